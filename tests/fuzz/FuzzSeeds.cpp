// Writes the seed corpus of every fuzz target with the project's own encoders:
//   FuzzSeeds <corpus folder>     (tests/fuzz/corpus)
// Each seed is a file "seed-<name>" in the folder of its target; other files there (inputs that
// once crashed a target) are left alone. Keys, salts and nonces are fixed, so the seeds come out
// the same every time and sealed ones open under the keys the targets use.
#include "Fuzz.h"
#include "support/InMemoryKeychain.h"
#include "support/TestSupport.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/PhoneSync.h"
#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/mount/ChangeSync.h"
#include "DriveCore/mount/LocalChangeSources.h"
#include "DriveCore/platform/Crypto.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareLinks.h"
#include "DriveCore/shares/ShareManifest.h"
#include "DriveCore/shares/ShareRecords.h"
#include "DriveCore/shares/ShareWorkerConfig.h"
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
#include <QTimeZone>

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
    const auto text = [](const std::optional<std::string> &encoded) {
        return QByteArray::fromStdString(encoded.value());
    };
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
    seed("FuzzKeepMenu", "remove",
         Fuzz::joined(
             {"/home/ann/Mounts/Drive2/a", "/home/ann/Mounts/Drive", "Docs", "Caf\u00e9", "", "Docs", "Cafe\u0301"}));
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
    seed("FuzzShareFile", "empty",
         Fuzz::joined({"0", "1048576", "0", ShareFormat::encryptFile({}, contentKey, 0, 1048576)}));
    seed("FuzzShareFile", "wrapping-size", Fuzz::joined({"1085102592571150096", "1", "0", QByteArray(16, '\0')}));
    seed("FuzzShareFile", "seal", Fuzz::joined({"seal", "15", "2", plain}));
}

void encodings()
{
    QByteArray bytes;
    for (int i = 0; i < 16; ++i)
        bytes.append(char(0xf0 - i * 13));
    const QString id = Base64URL::encode(bytes);
    seed("FuzzEncodings", "base64url",
         "base64url" + QByteArray(1, '\0') + Base64URL::encode(bytes + "\x01\x02").toUtf8());
    seed("FuzzEncodings", "hex", "hex" + QByteArray(1, '\0') + Hex::encode(bytes).toUpper().toUtf8());
    seed("FuzzEncodings", "shareid", "shareid" + QByteArray(1, '\0') + id.toUtf8());
    QByteArray units(1, '\x01'); // the same id as UTF-16 units
    for (const QChar c : id)
        units += QByteArray(1, char(c.unicode() & 0xff)) + QByteArray(1, char(c.unicode() >> 8));
    seed("FuzzEncodings", "shareid-utf16", "shareid" + QByteArray(1, '\0') + units);
}

void remoteControl()
{
    const QJsonObject item{
        {"Path", "Docs/a.txt"}, {"Name", "a.txt"}, {"Size", 5}, {"ModTime", "2026-01-02T03:04:05Z"}, {"IsDir", false}};
    const auto reply = [](const char *method, const QJsonObject &body) {
        seed("FuzzRCReply", QByteArray(method).replace('/', '-').constData(),
             QByteArray(method) + QByteArray(1, '\0') + json(body));
    };
    reply("core/stats",
          {{"transferring",
            QJsonArray{QJsonObject{{"name", "a.txt"},
                                   {"size", 10},
                                   {"bytes", 4},
                                   {"percentage", 40},
                                   {"eta", QJsonValue()},
                                   {"group", "global_stats"},
                                   {"dstFs", "drivecrypt:Drive"}}}}});
    reply("vfs/stats",
          {{"diskCache", QJsonObject{{"uploadsInProgress", 1}, {"uploadsQueued", 2}, {"erroredFiles", 0}}},
           {"trash", QJsonObject{{"pending", 3}, {"failing", 1}}}});
    reply("operations/stat", {{"item", item}});
    reply("operations/list", {{"list", QJsonArray{item, item}}});
    reply("core/transferred",
          {{"list",
            QJsonArray{QJsonObject{{"name", "a"},
                                   {"size", 9007199254740993.0},
                                   {"error", ""},
                                   {"completed_at", "t"},
                                   {"checked", false}}}}});
    reply("strings", {{"list", QJsonArray{"drivecrypt:Drive", "x"}}});
    reply("integers", {{"list", QJsonArray{1, -2, 9007199254740992.0}}});
}

void cloudflare()
{
    const QByteArray active = json({{"success", true},
                                    {"errors", QJsonArray()},
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
    const PhoneSyncItem phone{1,
                              secrets.endpoint,
                              secrets.bucket,
                              secrets.accessKeyID,
                              secrets.secretAccessKey,
                              QStringLiteral("correct horse"),
                              QStringLiteral("Ada's Drive"),
                              QStringLiteral("Ada's laptop"),
                              QDateTime(QDate(2026, 5, 1), QTime(12, 0, 0, 250), QTimeZone::utc())};
    seed("FuzzKeyringRecord", "phone", "phone" + QByteArray(1, '\0') + phone.toJson());
}

void settings()
{
    const DriveSettings drive{QStringLiteral("Ada's Drive"), 30,
                              QUuid::fromString(QStringLiteral("6f1d2a3b-4c5d-4e6f-8a9b-0c1d2e3f4a5b")),
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
    seed("FuzzSettings", "device",
         "device" + QByteArray(1, '\0') + DriveSettings::deviceIDText(drive.deviceID).toUtf8());
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
    seed("FuzzLogFormat", "private",
         Fuzz::joined({"Rescuing %{private}s failed: %{public}s", "show", "s/home/a/f", "sdisk full"}));
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

void engineOutput()
{
    // Debian's rclone listing a folder the way the storage connection lists the bucket.
    const QTemporaryDir folder;
    QDir(folder.path()).mkpath(QStringLiteral("Caf\u00e9 folder"));
    for (const auto &[name, contents] : {std::pair{"notes.txt", QByteArray("hello")},
                                         {"tab\tname", QByteArray()},
                                         {"\xe2\x98\x81 cloud.bin", QByteArray(1234, 'x')}}) {
        QFile file(folder.filePath(QString::fromUtf8(name)));
        file.open(QIODevice::WriteOnly);
        file.write(contents);
    }
    const Environment environment{{QStringLiteral("RCLONE_CONFIG"), QStringLiteral("/dev/null")},
                                  {QStringLiteral("HOME"), QDir::tempPath()}};
    const RcloneResult listed = await(ProcessRunner::run(
        QStandardPaths::findExecutable(QStringLiteral("rclone")),
        {QStringLiteral("lsf"), folder.path(), QStringLiteral("--max-depth"), QStringLiteral("1"),
         QStringLiteral("--format"), QStringLiteral("sp"), QStringLiteral("--separator"), QStringLiteral("\t")},
        environment));
    seed("FuzzEngineOutput", "listing", "listing" + QByteArray(1, '\0') + listed.stdoutBytes);
    const QJsonObject stats{{"bytes", 3000003},    {"totalBytes", 9000009},   {"checks", 0},
                            {"deletes", 0},        {"elapsedTime", 1.000523}, {"errors", 0},
                            {"eta", QJsonValue()}, {"fatalError", false},     {"renames", 0},
                            {"retryError", false}, {"speed", 2999990.5},      {"transfers", 1}};
    seed("FuzzEngineOutput", "progress",
         "progress" + QByteArray(1, '\0')
             + json({{"level", "notice"},
                     {"msg", "Transferred: 2.861 MiB / 8.583 MiB, 33%"},
                     {"source", "accounting/stats.go:521"},
                     {"stats", stats},
                     {"time", "2026-12-10T14:50:40.123456+01:00"}}));
}

void changeSync()
{
    const ChangeMarker note{QUuid::fromString(QStringLiteral("6f1d2a3b-4c5d-4e6f-8a9b-0c1d2e3f4a5b")),
                            QDateTime(QDate(2026, 12, 10), QTime(14, 50, 40), Qt::UTC),
                            {QString(), QStringLiteral("Work/Caf\u00e9"), QStringLiteral("Photos/2026")}};
    seed("FuzzChangeSync", "marker", "marker" + QByteArray(1, '\0') + note.encoded());

    QByteArray log;
    const QStringList paths{QStringLiteral("Work/a.txt"), QStringLiteral("Work/a (conflict from Ada's Mac).txt"),
                            QStringLiteral("Caf\u00e9/.corvane-refresh-1")};
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const RcloneLogChangeSource::Marker &marker = RcloneLogChangeSource::markers[i % 2];
        log += "2026/12/10 14:00:0" + QByteArray::number(i) + ' ' + marker.text + paths[i].toUtf8() + '\n';
    }
    log += "2026/12/10 14:00:05 INFO  : Work/b.txt: Copied (new)\n2026/12/10 14:00:06 NOTICE: trash: moved Work/par";
    seed("FuzzChangeSync", "log", Fuzz::joined({"log", QByteArray("\x10\x3c\x01"), log}));

    const auto record = [](const char *name, const char *completedAt, const QJsonValue &dstFs) {
        return QJsonObject{{"name", name},     {"size", 5},
                           {"error", ""},      {"completed_at", completedAt},
                           {"checked", false}, {"group", "global_stats"},
                           {"dstFs", dstFs}};
    };
    const QJsonObject first{
        {"list", QJsonArray{record("Work/a.txt", "2026-12-10T14:00:00.1Z", "drivecrypt{ab12}:Drive")}}};
    const QJsonObject second{{"list",
                              QJsonArray{record("Work/a.txt", "2026-12-10T14:00:00.1Z", "drivecrypt{ab12}:Drive"),
                                         record("Work/b.txt", "2026-12-10T14:00:02.5Z", RCClient::mountFs),
                                         record("elsewhere.txt", "2026-12-10T14:00:03Z", "drive:bucket")}}};
    seed("FuzzChangeSync", "uploads", Fuzz::joined({"uploads", json(first), json(second)}));
}

void procFiles()
{
    // As the kernel writes them.
    seed("FuzzProcFiles", "mountinfo",
         "mountinfo" + QByteArray(1, '\0')
             + "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
               "35 22 0:30 / /home/ann/My\\040Drive rw,nosuid,nodev,relatime shared:30 - fuse.rclone drivecrypt:Drive "
               "rw,user_id=1000,group_id=1000\n"
               "36 35 0:31 /sub\\134dir /home/ann/bind rw,relatime - fuse.bindfs bindfs rw\n");
    seed("FuzzProcFiles", "cmdline",
         "cmdline" + QByteArray(1, '\0')
             + QByteArray("/usr/bin/rclone\0nfsmount\0drivecrypt:Drive\0/home/ann/Caf\xc3\xa9\0", 58));
    seed("FuzzProcFiles", "stat",
         Fuzz::joined({"stat", "4242 (rclone (x) y) S 4200 4242 4200 0 -1 4194560 1062 0 0 0 3 1 0 0 20 0 12 0\n",
                       "Name:\trclone\nUmask:\t0022\nState:\tS (sleeping)\nUid:\t1000\t1000\t1000\t1000\n"
                       "Gid:\t1000\t1000\t1000\t1000\n"}));
}

void driveServices()
{
    const auto item = [](const QString &path, qint64 size, const char *modified, bool isDir) {
        return QJsonObject{{"Path", path},
                           {"Name", path.mid(path.lastIndexOf(u'/') + 1)},
                           {"Size", size},
                           {"ModTime", modified},
                           {"IsDir", isDir}};
    };
    const QJsonObject listing{
        {"list",
         QJsonArray{item(QStringLiteral("Work"), -1, "2026-12-09T10:08:29Z", true),
                    item(QStringLiteral("Work/Report final.pdf"), 5, "2026-12-09T10:08:29.123456789+01:00", false),
                    item(QStringLiteral("Work/Cafe\u0301 menu.txt"), 9, "2026-12-09T10:08:29Z", false),
                    item(QStringLiteral("\u00c9t\u00e9/IMG_0001.HEIC"), 3000000, "bad", false)}}};
    seed("FuzzDriveServices", "search",
         Fuzz::joined({"search", json(listing), "Work/new report.txt\nWork/Caf\u00e9 menu.txt", "report"}));
    seed("FuzzDriveServices", "search-words", Fuzz::joined({"search", json(listing), "", "caf\u00e9  ME\u0301"}));

    const QTimeZone utc = QTimeZone::utc();
    const QString day = DriveLayout::dateFolder(QDateTime(QDate(2026, 3, 4), QTime(23, 30), utc), utc);
    const QJsonObject trash{
        {"list",
         QJsonArray{item(day, -1, "2026-03-04T23:30:00Z", true),
                    item(day + QStringLiteral("/Photos/beach.jpg"), 12, "2026-03-04T23:30:00Z", false),
                    item(QStringLiteral("2026-02-30/x.txt"), 1, "2026-03-04T23:30:00Z", false),
                    item(QStringLiteral("stray.txt"), 1, "2026-03-04T23:30:00Z", false)}}};
    seed("FuzzDriveServices", "trash", Fuzz::joined({"trash", json(trash)}));
    seed("FuzzDriveServices", "conflict", Fuzz::joined({"conflict", "Docs/report (conflict from Ada's Mac 2).tar.gz"}));
    seed("FuzzDriveServices", "conflict-plain", Fuzz::joined({"conflict", "Notes (conflict from Mac 02)"}));
}

void pins()
{
    const auto pin = [](const char *path, bool isDir, qint64 bytes, qint64 done, const char *state) {
        return QJsonObject{
            {"path", path},   {"isDir", isDir},    {"files", isDir ? 3 : 1}, {"filesDone", done == bytes ? 1 : 0},
            {"bytes", bytes}, {"bytesDone", done}, {"state", state}};
    };
    seed("FuzzRCReply", "vfs-pins",
         "vfs/pins" + QByteArray(1, '\0')
             + json(
                 {{"pins",
                   QJsonArray{pin("Photos", true, 3000, 1000, "keeping"), pin("Photos/a.jpg", false, 100, 100, "done"),
                              pin("Docs/b.txt", false, 50, 0, "offline")}},
                  {"state", "keeping"}}));
    seed("FuzzRCReply", "vfs-pin",
         "vfs/pin" + QByteArray(1, '\0')
             + json({{"needed", qint64(5'000'000'000)}, {"free", 1'200'000'000}, {"notEnoughSpace", true}}));
}

void cloudflareUsage()
{
    const auto storage = [](const char *date, qint64 payload) {
        return QJsonObject{
            {"max", QJsonObject{{"payloadSize", payload}, {"metadataSize", 1}}},
            {"dimensions", QJsonObject{{"date", date}, {"bucketName", "photos"}, {"storageClass", "Standard"}}}};
    };
    const auto operations = [](const char *action, qint64 requests, const QJsonValue &status) {
        return QJsonObject{{"sum", QJsonObject{{"requests", requests}}},
                           {"dimensions", QJsonObject{{"actionType", action}, {"responseStatusCode", status}}}};
    };
    const QJsonObject account{
        {"storage", QJsonArray{storage("2026-12-01", 12'000'000'000), storage("2026-12-02", 13'000'000'000)}},
        {"operations",
         QJsonArray{operations("PutObject", 1'500'000, 200), operations("GetObject", 20'000'000, 200),
                    operations("ListObjects", 7, 403), operations("DeleteObject", 3, QJsonValue())}}};
    const QJsonObject reply{{"data", QJsonObject{{"viewer", QJsonObject{{"accounts", QJsonArray{account}}}}}},
                            {"errors", QJsonValue()}};
    seed("FuzzCloudflareUsage", "usage", Fuzz::joined({"2026-12-10T14:50:40Z", json(reply)}));
    const QJsonObject refused{{"data", QJsonValue()},
                              {"errors",
                               QJsonArray{QJsonObject{{"message", "not authorized for that account"},
                                                      {"extensions", QJsonObject{{"code", "authz"}}}}}}};
    seed("FuzzCloudflareUsage", "refused", Fuzz::joined({"", json(refused)}));
}

void shareLinks()
{
    const ShareRecord record{QStringLiteral("AAECAwQFBgcICQoLDA0ODw"),
                             Base64URL::encode(QByteArray(32, '\x07')),
                             QStringLiteral("p\u00e4ss word"),
                             QStringLiteral("Holiday / \u00c9t\u00e9"),
                             {QStringLiteral("Photos/2026"), QStringLiteral("notes.txt")},
                             12,
                             3000000,
                             QDateTime(QDate(2026, 12, 10), QTime(14, 50, 40), Qt::UTC),
                             QDateTime(QDate(2026, 12, 17), QTime(14, 50, 40), Qt::UTC),
                             10,
                             QUrl(QStringLiteral("https://ovra-share-photos.ada.workers.dev/")),
                             QStringLiteral("Ada's Mac")};
    seed("FuzzShareLinks", "record", "record" + QByteArray(1, '\0') + ShareRecords::encoded(record));
    ShareRecord plain = record;
    plain.password.reset();
    plain.expiresAt.reset();
    plain.maxDownloads.reset();
    seed("FuzzShareLinks", "record-plain", "record" + QByteArray(1, '\0') + ShareRecords::encoded(plain));
    seed("FuzzShareLinks", "date", "date" + QByteArray(1, '\0') + ShareRecords::dateText(record.createdAt).toUtf8());
    seed("FuzzShareLinks", "date-offset", "date" + QByteArray(1, '\0') + "2026-01-31T09:05:00-03:30");
    seed("FuzzShareLinks", "status",
         Fuzz::joined({"status", "200",
                       json({{"expiresAt", 1797000000},
                             {"maxDownloads", QJsonValue()},
                             {"downloads", 3},
                             {"fileCount", 12},
                             {"totalBytes", 3000000}})}));
    seed("FuzzShareLinks", "status-ended", Fuzz::joined({"status", "410", "{\"error\":\"expired\"}"}));
    seed("FuzzShareLinks", "expiry",
         "expiry" + QByteArray(1, '\0') + ShareExpiry(ShareExpiry::thirtyDays).text().toUtf8());
}

void shareWorkerDeploy()
{
    const QByteArray done = json({{"success", true},
                                  {"errors", QJsonArray()},
                                  {"messages", QJsonArray()},
                                  {"result", QJsonObject{{"id", "ovra-share-my-bucket"}}}});
    const QByteArray subdomain = json({{"success", true},
                                       {"errors", QJsonArray()},
                                       {"messages", QJsonArray()},
                                       {"result", QJsonObject{{"subdomain", "Ada-2"}}}});
    seed("FuzzShareWorkerDeploy", "deployed", Fuzz::joined({"200", subdomain, "200", done, "200", done, "200", done}));
    const QByteArray refused =
        json({{"success", false},
              {"messages", QJsonArray()},
              {"errors", QJsonArray{QJsonObject{{"code", 10021}, {"message", "Uncaught SyntaxError"}}}}});
    seed("FuzzShareWorkerDeploy", "upload-refused", Fuzz::joined({"200", subdomain, "400", refused}));
    const QByteArray noName =
        json({{"success", false},
              {"result", QJsonValue()},
              {"errors", QJsonArray{QJsonObject{{"code", 10007}, {"message", "workers.api.error.not_found"}}}}});
    seed("FuzzShareWorkerDeploy", "no-subdomain", Fuzz::joined({"404", noName}));
}

void cacheScan()
{
    // Metadata files as the engine writes them (indented with tabs), and one compact.
    const QByteArray dirty =
        "{\n\t\"ModTime\": \"2026-12-10T17:03:17.301661506Z\",\n\t\"ATime\": "
        "\"2026-12-10T17:03:17.316847713Z\",\n\t\"Size\": 11,\n\t\"Rs\": [\n\t\t{\n\t\t\t\"Pos\": 0,\n"
        "\t\t\t\"Size\": 11\n\t\t}\n\t],\n\t\"Fingerprint\": \"\",\n\t\"Dirty\": true\n}\n";
    seed("FuzzCacheScan", "meta-dirty", Fuzz::joined({"meta", "hello world", dirty}));
    seed("FuzzCacheScan", "meta-clean",
         Fuzz::joined({"meta", "hello",
                       "{\"ModTime\":\"2026-12-10T17:03:17Z\",\"ATime\":\"2026-12-10T17:03:17Z\",\"Size\":100,"
                       "\"Rs\":[{\"Pos\":0,\"Size\":5}],\"Fingerprint\":\"100,2026-12-10 17:03:17 +0000 "
                       "UTC\",\"Dirty\":false}"}));
    seed("FuzzCacheScan", "meta-gap",
         Fuzz::joined({"meta", "0123456789",
                       "{\"Size\":10,\"Rs\":[{\"Pos\":6,\"Size\":4},{\"Pos\":0,\"Size\":5}],\"Dirty\":true}"}));
    // What only the full parser reads: escapes, other text, whole floats, a key given twice.
    seed("FuzzCacheScan", "meta-unusual",
         Fuzz::joined(
             {"meta", "abc",
              "{\"Name\":\"caf\\u00e9 \xe2\x98\x81\",\"Size\":3.0,\"Rs\":[{\"Pos\":0,\"Size\":3e0}],\"Dirty\":false,"
              "\"Dirty\":true}"}));
    seed("FuzzCacheScan", "journal-done",
         Fuzz::joined({"journal",
                       "{\"add\":{\"id\":1,\"path\":\"Work/a.txt\"}}\n{\"add\":{\"id\":2}}\n{\"done\":2}\n"
                       "{\"done\":1}\n"}));
    seed("FuzzCacheScan", "journal-pending",
         Fuzz::joined({"journal",
                       "{\"add\":{\"id\":18446744073709551615}}\r\n\n{\"done\":18446744073709551614}\n"
                       "{\"add\":{\"id\":7},\"done\":7}"}));
}

void shareWorkerConfig()
{
    const QDateTime deployedAt(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC);
    const ShareWorkerConfig config{QUrl(QStringLiteral("https://ovra-share-bucket.alice.workers.dev")),
                                   QStringLiteral("0123456789abcdef"), 120, deployedAt};
    seed("FuzzShareWorkerConfig", "record", config.encoded());
    const ShareWorkerConfig other{QUrl(QStringLiteral("https://xn--caf-dma.example:8443/links/?a=b#top")),
                                  QStringLiteral("f\u00e9e"), std::nullopt, deployedAt};
    seed("FuzzShareWorkerConfig", "record-no-build", other.encoded());
    seed(
        "FuzzShareWorkerConfig", "record-offset",
        R"({"appBuild":9007199254740993,"deployedAt":"2026-01-31T09:05:00-03:30","extra":[1],"url":"http://[::1]:8787/","version":""})");
}

void engineLog()
{
    // Bytes 1 to 4 of the log stand for the secrets.
    const QByteArray accessKeyID = "AKIA0123456789ABCDEF";
    const QByteArray secretAccessKey = "s3cr3t/+key=0123456789abcdefghij";
    const QByteArray obscured = RcloneCommand::obscure(QStringLiteral("correct horse battery staple")).toUtf8();
    const QByteArray rcPass = QByteArray(32, '\x5c').toHex();
    const auto logSeed = [&](const char *name, const QByteArray &start, const QByteArray &log) {
        seed("FuzzEngineLog", name, Fuzz::joined({start, accessKeyID, secretAccessKey, obscured, rcPass, log}));
    };
    logSeed("give-up", "",
            "2026/12/10 14:50:40 INFO  : drivecrypt: Mounting on \"/home/ann/Mounts/Drive\"\n"
            "2026/12/10 14:50:41 CRITICAL: Failed to create file system for \"drivecrypt:Drive\": key \x01 secret \x02 "
            "password \x03 rc \x04 (again \x02\x01)\n\n");
    const std::pair<const char *, QByteArray> breaks[] = {
        {"lf", "\n"},     {"vt", "\v"},        {"ff", "\f"},           {"cr", "\r"},
        {"crlf", "\r\n"}, {"nel", "\xc2\x85"}, {"ls", "\xe2\x80\xa8"}, {"ps", "\xe2\x80\xa9"}};
    for (const auto &[kind, text] : breaks)
        logSeed(("break-" + QByteArray(kind)).constData(), "",
                "older \x04" + text + "last \x03 line" + text + " \t" + text);
    // The read begins inside a character, and inside a secret.
    const QByteArray cafe = "x\nBefore caf\xc3\xa9 \x01 after";
    logSeed("cut-character", QByteArray::number(cafe.indexOf("\xa9")), cafe);
    logSeed("cut-secret", QByteArray::number(QByteArray("x\nkey ").size() + 4), "x\nkey \x01 and \x02");
    // A secret where the detail is cut.
    logSeed("long-line", "", "CRITICAL: " + QByteArray(280, 'y') + " \x02 " + QByteArray(40, 'z'));
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
    engineOutput();
    changeSync();
    procFiles();
    driveServices();
    pins();
    cloudflareUsage();
    shareLinks();
    shareWorkerDeploy();
    cacheScan();
    shareWorkerConfig();
    engineLog();
    std::printf("FuzzSeeds: %d seeds written below %s\n", written, argv[1]);
    return 0;
}
