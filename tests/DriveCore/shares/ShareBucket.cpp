#include "ShareBucket.h"

#include "DriveCore/engine/RcloneCommand.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QStandardPaths>

namespace TestSupport {

bool ShareBucket::start()
{
    m_server = std::make_unique<S3Server>();
    return m_server->start();
}

DriveCore::StorageSecrets ShareBucket::secrets() const
{
    if (m_server)
        return m_server->secrets();
    return {QStringLiteral("http://127.0.0.1:1"), QStringLiteral("bucket"), S3Server::accessKeyID,
            S3Server::secretAccessKey};
}

QString ShareBucket::rclone()
{
    return QStandardPaths::findExecutable(QStringLiteral("rclone"));
}

DriveCore::Environment ShareBucket::environment() const
{
    DriveCore::Environment environment =
        DriveCore::RcloneCommand::environment(secrets(), DriveCore::RcloneCommand::obscure(QStringLiteral("pass")));
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("HOME"), m_folder.path());
    return environment;
}

std::shared_ptr<DriveCore::RcloneShareStorage> ShareBucket::storage(const QString &program,
                                                                    const QString &failPattern) const
{
    DriveCore::Environment variables = environment();
    if (!failPattern.isEmpty())
        variables.insert(QStringLiteral("SHARE_TEST_FAIL"), failPattern);
    return std::make_shared<DriveCore::RcloneShareStorage>(
        DriveCore::RcloneShareStorage::forDrive(program.isEmpty() ? rclone() : program, variables, secrets().bucket));
}

QByteArray ShareBucket::object(const QString &key) const
{
    const DriveCore::RcloneResult result = await(DriveCore::ProcessRunner::run(
        rclone(), {QStringLiteral("cat"), QStringLiteral("drive:%1/%2").arg(secrets().bucket, key)}, environment()));
    if (result.status != 0)
        qFatal("cannot read %s: %s", qPrintable(key), qPrintable(result.stderrText()));
    return result.stdoutBytes;
}

QString ShareBucket::failingEngine()
{
    return script(QStringLiteral("failing-engine"),
                  QStringLiteral(R"(line="$*"
echo "$line" >> '%1'
set -f
IFS='
'
for pattern in $SHARE_TEST_FAIL; do
  case "$line" in
    $pattern) echo "injected failure: $1" >&2; exit 1 ;;
  esac
done
exec '%2' "$@"
)")
                      .arg(callsLog(), rclone()));
}

QStringList ShareBucket::calls() const
{
    QFile file(callsLog());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QString ShareBucket::script(const QString &name, const QString &body) const
{
    return writeScript(m_folder.filePath(name), body);
}

} // namespace TestSupport
