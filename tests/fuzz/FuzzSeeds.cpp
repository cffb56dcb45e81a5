// Writes the seed corpus of every fuzz target with the project's own encoders:
//   FuzzSeeds <corpus folder>     (tests/fuzz/corpus)
// Each seed is a file "seed-<name>" in the folder of its target; other files there (inputs that
// once crashed a target) are left alone. Keys, salts and nonces are fixed, so the seeds come out
// the same every time and sealed ones open under the keys the targets use.
#include "Fuzz.h"
#include "support/InMemoryKeychain.h"
#include "support/TestSupport.h"

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/ProcessRunner.h"
#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/Crypto.h"
#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareManifest.h"
#include "DriveCore/support/Base64URL.h"
#include "DriveCore/support/Hex.h"
#include "KeepShared/KeepBridge.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstring>

using namespace DriveCore;
using TestSupport::await;

namespace {

QDir corpus;
int written = 0;

void seed(const char *target, const char *name, const QByteArray &bytes)
{
    corpus.mkpath(QLatin1String(target));
    QFile file(corpus.filePath(QLatin1String(target) + QStringLiteral("/seed-") + QLatin1String(name)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "FuzzSeeds: could not write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    ++written;
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const StorageSecrets secrets{QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"),
                             QStringLiteral("my-drive"), QStringLiteral("AKIA-test"), QStringLiteral("s3cr3t/+key=")};

void recoveryKit()
{
    // The key, salt and nonce FuzzRecoveryKit seals and opens with.
    const QByteArray key(32, '\x42');
    const QByteArray salt(RecoveryKit::saltSize, '\x11');
    const QByteArray nonce(Crypto::Aead::nonceSize, '\x22');
    RecoveryKitPayload payload = RecoveryKitPayload::make(secrets, QStringLiteral("Ada's Drive \u2601"));
    payload.cloudflareKey = QStringLiteral("cf-token_123");
    const QString code = RecoveryKit::seal(payload, key, salt, nonce);
    seed("FuzzRecoveryKit", "code", "code" + QByteArray(1, '\0') + code.toUtf8());
    QString wrapped = code;
    wrapped.insert(60, QStringLiteral("\r\n")).insert(20, QStringLiteral(" \u00a0"));
    seed("FuzzRecoveryKit", "wrapped-code", "code" + QByteArray(1, '\0') + wrapped.toUtf8());
    const QByteArray bytes = RecoveryKit::unwrap(code);
    const QByteArray plain = Crypto::Aead(Crypto::Aead::Algorithm::chaCha20Poly1305, key)
                                 .open(bytes.mid(salt.size(), nonce.size()), bytes.mid(salt.size() + nonce.size()));
    seed("FuzzRecoveryKit", "payload", "payload" + QByteArray(1, '\0') + plain);
}

void keepBridge()
{
    using namespace KeepShared;
    const std::string mount = "/home/ann/Mounts/Drive";
    const auto text = [](const std::optional<std::string> &encoded) { return QByteArray::fromStdString(encoded.value()); };
    const FinderBadgePin pin{"Photos/2019", true, "lowSpace"};
    const FinderBadgeSnapshot snapshot(mount, {{"Docs", true, "done"}, {"Docs/Cafe\u0301", false, "downloading"}},
                                       {"Music/a.mp3"}, true, false);
    const KeepState state{{mount}, {{mount, {"Docs", "Caf\u00e9/x"}}}};
    const KeepRequest request{KeepRequest::Action::remove, {mount + "/Docs", mount + "/Caf\u00e9"}};
    seed("FuzzKeepBridge", "pin", "pin" + QByteArray(1, '\0') + text(KeepBridge::encode(pin)));
    seed("FuzzKeepBridge", "badges", "badges" + QByteArray(1, '\0') + text(KeepBridge::encode(snapshot)));
    seed("FuzzKeepBridge", "state", "state" + QByteArray(1, '\0') + text(KeepBridge::encode(state)));
    seed("FuzzKeepBridge", "request", "request" + QByteArray(1, '\0') + text(KeepBridge::encode(request)));
}

void keepMenu()
{
    seed("FuzzKeepMenu", "kept-folder",
         Fuzz::joined({"/home/ann/Mounts/Drive/Docs/./a/../Cafe\u0301.txt", "/home/ann/Mounts//Drive/", "Docs/x/y.txt",
                       "", "Docs", "Music"}));
    seed("FuzzKeepMenu", "remove", Fuzz::joined({"/home/ann/Mounts/Drive2/a", "/home/ann/Mounts/Drive", "Docs",
                                                  "Caf\u00e9", "", "Docs", "Cafe\u0301"}));
}

void shares()
{
    const QByteArray contentKey(32, '\x5a'); // the key FuzzShareManifest and FuzzShareFile use
    const ShareManifest manifest(QStringLiteral("Holiday / \u00c9t\u00e9"), ShareFormat::chunkSize,
                                 {{QStringLiteral("Photos/a b.jpg"), 5, QStringLiteral("2026-03-04T05:06:07Z")},
                                  {QStringLiteral("notes.txt"), 0, std::nullopt}});
    seed("FuzzShareManifest", "manifest", manifest.json());

    QByteArray plain;
    for (int i = 0; i < 41; ++i)
        plain.append(char(i * 7));
    seed("FuzzShareFile", "three-chunks",
         Fuzz::joined({"41", "16", "3", ShareFormat::encryptFile(plain, contentKey, 3, 16)}));
    seed("FuzzShareFile", "empty", Fuzz::joined({"0", "1048576", "0", ShareFormat::encryptFile({}, contentKey, 0, 1048576)}));
    seed("FuzzShareFile", "wrapping-size", Fuzz::joined({"1085102592571150096", "1", "0", QByteArray(16, '\0')}));
    seed("FuzzShareFile", "seal", Fuzz::joined({"seal", "15", "2", plain}));
}

void encodings()
{
    QByteArray bytes;
    for (int i = 0; i < 16; ++i)
        bytes.append(char(0xf0 - i * 13));
    const QString id = Base64URL::encode(bytes);
    seed("FuzzEncodings", "base64url", "base64url" + QByteArray(1, '\0') + Base64URL::encode(bytes + "\x01\x02").toUtf8());
    seed("FuzzEncodings", "hex", "hex" + QByteArray(1, '\0') + Hex::encode(bytes).toUpper().toUtf8());
    seed("FuzzEncodings", "shareid", "shareid" + QByteArray(1, '\0') + id.toUtf8());
    QByteArray units(1, '\x01'); // the same id as UTF-16 units
    for (const QChar c : id)
        units += QByteArray(1, char(c.unicode() & 0xff)) + QByteArray(1, char(c.unicode() >> 8));
    seed("FuzzEncodings", "shareid-utf16", "shareid" + QByteArray(1, '\0') + units);
}

void remoteControl()
{
    const QJsonObject item{{"Path", "Docs/a.txt"}, {"Name", "a.txt"}, {"Size", 5}, {"ModTime", "2026-01-02T03:04:05Z"},
                           {"IsDir", false}};
    const auto reply = [](const char *method, const QJsonObject &body) {
        seed("FuzzRCReply", QByteArray(method).replace('/', '-').constData(),
             QByteArray(method) + QByteArray(1, '\0') + json(body));
    };
    reply("core/stats", {{"transferring", QJsonArray{QJsonObject{{"name", "a.txt"}, {"size", 10}, {"bytes", 4},
                                                                 {"percentage", 40}, {"eta", QJsonValue()},
                                                                 {"group", "global_stats"}, {"dstFs", "drivecrypt:Drive"}}}}});
    reply("vfs/stats", {{"diskCache", QJsonObject{{"uploadsInProgress", 1}, {"uploadsQueued", 2}, {"erroredFiles", 0}}},
                        {"trash", QJsonObject{{"pending", 3}, {"failing", 1}}}});
    reply("operations/stat", {{"item", item}});
    reply("operations/list", {{"list", QJsonArray{item, item}}});
    reply("core/transferred", {{"list", QJsonArray{QJsonObject{{"name", "a"}, {"size", 9007199254740993.0}, {"error", ""},
                                                               {"completed_at", "t"}, {"checked", false}}}}});
    reply("strings", {{"list", QJsonArray{"drivecrypt:Drive", "x"}}});
    reply("integers", {{"list", QJsonArray{1, -2, 9007199254740992.0}}});
}

void cloudflare()
{
    const QByteArray active = json({{"success", true}, {"errors", QJsonArray()},
                                    {"result", QJsonObject{{"id", "ABCdef0123"}, {"status", "active"}}}});
    seed("FuzzCloudflareKey", "account-token", Fuzz::joined({"200", active, "500", ""}));
    seed("FuzzCloudflareKey", "user-token", Fuzz::joined({"403", json({{"success", false}}), "200", active}));
}

void keyring()
{
    const QString service = QStringLiteral("com.corvane.drive");
    const auto keychain = std::make_shared<TestSupport::InMemoryKeychain>();
    KeychainSecretStore store(service, keychain);
    await(store.save(secrets, QStringLiteral("correct horse \u2713")));
    seed("FuzzKeyringRecord", "record", "record" + QByteArray(1, '\0') + keychain->items(service).value("drive"));
    await(store.saveCloudflareKey(QStringLiteral("cf/token")));
    seed("FuzzKeyringRecord", "record-token", "record" + QByteArray(1, '\0') + keychain->items(service).value("drive"));
    seed("FuzzKeyringRecord", "legacy",
         Fuzz::joined({"legacy", secrets.endpoint.toUtf8(), secrets.bucket.toUtf8(), secrets.accessKeyID.toUtf8(),
                       secrets.secretAccessKey.toUtf8(), "\xEF\xBB\xBFold pass"}));
    seed("FuzzKeyringRecord", "secrets", "secrets" + QByteArray(1, '\0') + json(secrets.toJson()));
}

void settings()
{
    const DriveSettings drive{QStringLiteral("Ada's Drive"), 30, QUuid::fromString(QStringLiteral("6f1d2a3b-4c5d-4e6f-8a9b-0c1d2e3f4a5b")),
                              QStringLiteral("ada-laptop"), true};
    const QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("settings.json"));
    {
        UserDefaults defaults(path);
        drive.save(defaults);
        defaults.set(QStringLiteral("a"), QStringLiteral("text"));
        defaults.set(QStringLiteral("b"), qint64(42));
        defaults.set(QStringLiteral("c"), true);
    }
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    seed("FuzzSettings", "file", "file" + QByteArray(1, '\0') + file.readAll());
    seed("FuzzSettings", "drive", "drive" + QByteArray(1, '\0') + drive.toJson());
    seed("FuzzSettings", "device", "device" + QByteArray(1, '\0') + DriveSettings::deviceIDText(drive.deviceID).toUtf8());
}

template<typename T>
QByteArray number(char kind, T value)
{
    QByteArray bytes(1 + sizeof value, Qt::Uninitialized);
    bytes[0] = kind;
    std::memcpy(bytes.data() + 1, &value, sizeof value);
    return bytes;
}

void logFormat()
{
    seed("FuzzLogFormat", "pid", Fuzz::joined({"rclone started (pid %d)", "", number('i', qint64(4242))}));
    seed("FuzzLogFormat", "private", Fuzz::joined({"Rescuing %{private}s failed: %{public}s", "show", "s/home/a/f",
                                                   "sdisk full"}));
    seed("FuzzLogFormat", "numbers",
         Fuzz::joined({"%05d|%x|%.1f|%c|%p|%lu|%%|%{public}@", "", number('i', qint64(-42)), number('u', quint64(255)),
                       number('d', 1.25), number('i', qint64(0x1F600)), number('d', 1e300), number('u', quint64(7)),
                       "stext"}));
}

void engineStderr()
{
    // Debian's rclone, refusing a folder that is not there and telling what it does at debug level.
    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    const Environment environment{{QStringLiteral("RCLONE_CONFIG"), QStringLiteral("/dev/null")},
                                  {QStringLiteral("HOME"), QDir::tempPath()}};
    const auto run = [&](const char *name, const QStringList &arguments) {
        const RcloneResult result = await(ProcessRunner::run(rclone, arguments, environment));
        seed("FuzzEngineStderr", name, result.stderrBytes);
    };
    run("missing-folder", {QStringLiteral("lsf"), QStringLiteral("/nonexistent/folder")});
    run("debug", {QStringLiteral("lsf"), QStringLiteral("-vv"), QDir::tempPath() + QStringLiteral("/.nonexistent")});
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: FuzzSeeds <corpus folder>\n");
        return 2;
    }
    corpus = QDir(QString::fromLocal8Bit(argv[1]));
    recoveryKit();
    keepBridge();
    keepMenu();
    shares();
    encodings();
    remoteControl();
    cloudflare();
    keyring();
    settings();
    logFormat();
    engineStderr();
    std::printf("FuzzSeeds: %d seeds written below %s\n", written, argv[1]);
    return 0;
}
