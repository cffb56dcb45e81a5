#include "support/UpstreamEngine.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/SecretStore.h"
#include "support/FreePort.h"
#include "support/S3Server.h"
#include "support/ScopedEnvironment.h"
#include "support/StopProcess.h"

#include <QCoroTask>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QUuid>

#include <csignal>
#include <sys/prctl.h>

namespace TestSupport {

namespace {

// Paths in /proc/self/mountinfo write space, tab, newline and backslash as octal escapes.
QString unescapeMountPath(const QByteArray &field)
{
    QByteArray path;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                path += char(value);
                i += 3;
                continue;
            }
        }
        path += field[i];
    }
    return QFile::decodeName(path);
}

// The drive's folders and command line follow the user's home; for one machine of a test that
// is the engine's own temporary home.
class MachineHome {
public:
    explicit MachineHome(const QString &home)
    {
        m_environment.set("HOME", QFile::encodeName(home));
        m_environment.set("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
        m_environment.set("XDG_STATE_HOME", QFile::encodeName(home + QStringLiteral("/.local/state")));
    }

private:
    ScopedEnvironment m_environment;
};

} // namespace

QString UpstreamEngine::program()
{
    return QStringLiteral(CORVANE_TOOLS_DIR "/upstream-engine");
}

bool UpstreamEngine::isMounted(const QString &path)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QString wanted = QDir::cleanPath(path);
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() < 5 || separator < 0 || separator + 1 >= fields.size())
            continue;
        if (fields[separator + 1] == "fuse.rclone" && unescapeMountPath(fields[4]) == wanted)
            return true;
    }
    return false;
}

UpstreamEngine::UpstreamEngine(const S3Server &server, Options options)
    : m_options(std::move(options)), m_pass(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    using namespace DriveCore;
    {
        const MachineHome machine(m_home.path());
        m_mountPoint = m_options.engine == DriveEngine::nfs ? DriveLayout::mountPath(m_options.settings.driveName)
                                                            : DriveLayout::backingPath(m_options.settings.deviceID);
        m_cacheDir = DriveLayout::cacheDir(m_options.settings.deviceID);
        m_logFile = DriveLayout::logFile();
    }
    // Only what the drive gives its engine: nothing of the test's own environment (such as
    // AWS_CA_BUNDLE) reaches it.
    m_environment = RcloneCommand::environment(server.secrets(), RcloneCommand::obscure(m_options.passphrase));
    m_environment.insert(RcloneCommand::rcEnvironment(QString::fromLatin1(user), m_pass));
    m_environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    m_environment.insert(QStringLiteral("HOME"), m_home.path());
}

UpstreamEngine::~UpstreamEngine()
{
    stop();
    // Never walk into a mount that is still there when removing the home.
    if (isMounted(m_mountPoint))
        m_home.setAutoRemove(false);
}

QStringList UpstreamEngine::arguments(int port) const
{
    const MachineHome machine(m_home.path());
    return DriveCore::RcloneCommand::mountArguments(m_options.settings, port, m_options.readOnly, m_options.engine)
        + m_options.extraArguments;
}

bool UpstreamEngine::start()
{
    QDir().mkpath(m_mountPoint);
    QDir().mkpath(QFileInfo(m_logFile).path());
    QProcessEnvironment environment;
    for (auto it = m_environment.begin(); it != m_environment.end(); ++it)
        environment.insert(it.key(), it.value());
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A test process that dies takes its engine along; the engine unmounts on the signal.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });

    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = freePort();
        m_process.start(program(), arguments(port));
        if (!m_process.waitForStarted())
            return false;
        m_client.emplace(port, QString::fromLatin1(user), m_pass);
        const QDeadlineTimer deadline(30'000);
        bool answers = false;
        while (m_process.state() == QProcess::Running && !deadline.hasExpired()) {
            answers = answers || QCoro::waitFor(m_client->ping());
            if (answers && isMounted(m_mountPoint))
                return true;
            QThread::msleep(50);
        }
        const bool portTaken = output().contains(QStringLiteral("address already in use"));
        stop();
        if (!portTaken)
            return false;
    }
    return false;
}

void UpstreamEngine::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        ::kill(pid_t(m_process.processId()), SIGINT);
        if (!m_process.waitForFinished(10'000))
            stopProcess(m_process);
    }
    m_output += m_process.readAll();
    unmount();
}

void UpstreamEngine::unmount()
{
    if (!isMounted(m_mountPoint))
        return;
    // Lazily: a test may still hold something open in the drive.
    for (const auto &[program, arguments] :
         {std::pair{QStringLiteral("fusermount3"), QStringList{QStringLiteral("-uz"), m_mountPoint}},
          std::pair{QStringLiteral("umount"), QStringList{QStringLiteral("-l"), m_mountPoint}}}) {
        QProcess::execute(program, arguments);
        if (!isMounted(m_mountPoint))
            return;
    }
}

QString UpstreamEngine::output()
{
    m_output += m_process.readAll();
    QFile log(m_logFile);
    const QByteArray logText = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    return QString::fromUtf8(m_output) + QStringLiteral("\n--- log ---\n") + QString::fromUtf8(logText.right(20'000));
}

} // namespace TestSupport
