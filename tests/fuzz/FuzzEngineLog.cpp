// The engine's log as the supervisor quotes it when it gives up: the last line with more than
// blanks, read from the file's last 64 KiB, then shown with the launch's secrets redacted.
// Fields 1 to 4 are the secrets (access key ID, secret access key, obscured passphrase,
// remote-control password); field 5 is the log, where the bytes 1 to 4 stand for them. Field 0
// is where the read should begin (a byte offset into the log, decimal; empty reads it whole):
// the log is written after as many filler bytes as put that byte 64 KiB before the end. The
// line is what a plain split of those 64 KiB at every kind of line break gives; the shown text
// holds no secret outside the "<redacted>" that replace them, and does not depend on which
// secret is which.
#include "Fuzz.h"

#include "DriveCore/drive/RcloneSupervisor.h"
#include "DriveCore/drive/SupervisorTools.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/support/Graphemes.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace DriveCore;

namespace {

constexpr qsizetype tailBytes = 65'536;
constexpr qsizetype detailCharacters = 300;
const QString marker = QStringLiteral("<redacted>");
const QString details = RcloneSupervisor::keepsStoppingText + QStringLiteral(" Details: ");

std::optional<QString> splitLastLine(const QByteArray &bytes)
{
    static const QRegularExpression lineBreak(QStringLiteral("[\\n\\v\\f\\r\\x{85}\\x{2028}\\x{2029}]"));
    const QStringList lines = QString::fromUtf8(bytes).split(lineBreak);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        QStringView text = *line;
        while (!text.isEmpty() && (text.front() == u' ' || text.front() == u'\t'))
            text = text.mid(1);
        while (!text.isEmpty() && (text.back() == u' ' || text.back() == u'\t'))
            text.chop(1);
        if (!text.isEmpty())
            return text.toString();
    }
    return std::nullopt;
}

QString message(const std::optional<QString> &line, const StorageSecrets &keys, const QString &obscured,
                const QString &rcPass)
{
    Environment environment = RcloneCommand::environment(keys, obscured);
    environment.insert(RcloneCommand::rcEnvironment(QString::fromLatin1(RcloneSupervisor::rcUser), rcPass));
    return RcloneSupervisor::keepsStoppingMessage(line, environment, rcPass);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 6);
    const QStringList secrets{QString::fromUtf8(input[1]), QString::fromUtf8(input[2]), QString::fromUtf8(input[3]),
                              QString::fromUtf8(input[4])};
    QByteArray log;
    for (const char c : input[5])
        log += c >= 1 && c <= 4 ? secrets[c - 1].toUtf8() : QByteArray(1, c);
    bool hasStart = false;
    const qsizetype start = input[0].toLongLong(&hasStart);
    if (hasStart && start >= 0 && start <= log.size())
        log.prepend(QByteArray(std::max<qsizetype>(0, tailBytes - (log.size() - start)), 'a'));

    static const QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("rclone.log"));
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(log) == log.size());
    file.close();
    const std::optional<QString> line = SupervisorTools::lastNonEmptyLine(path);
    FUZZ_CHECK(line == splitLastLine(log.right(tailBytes)));

    const StorageSecrets keys{QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"),
                              QStringLiteral("my-drive"), secrets[0], secrets[1]};
    const QString shown = message(line, keys, secrets[2], secrets[3]);
    if (!line) {
        FUZZ_CHECK(shown == RcloneSupervisor::keepsStoppingText);
        return 0;
    }
    FUZZ_CHECK(shown.startsWith(details) && shown.size() > details.size());
    QString detail = shown.mid(details.size());
    const qsizetype characters = Graphemes::count(detail);
    FUZZ_CHECK(characters <= detailCharacters);
    // A marker the cut fell into.
    if (characters == detailCharacters) {
        for (qsizetype length = marker.size() - 1; length > 0; --length) {
            if (detail.endsWith(QStringView(marker).left(length))) {
                detail.chop(length);
                break;
            }
        }
    }
    for (const QString &piece : detail.split(marker)) {
        for (const QString &secret : secrets)
            FUZZ_CHECK(secret.isEmpty() || !piece.contains(secret));
    }
    const StorageSecrets swapped{keys.endpoint, keys.bucket, secrets[3], secrets[2]};
    FUZZ_CHECK(message(line, swapped, secrets[1], secrets[0]) == shown);
    return 0;
}
