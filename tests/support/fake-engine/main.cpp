// The fake engine: a stand-in for the storage engine that tests start as the engine program.
//
//   fake-engine nfsmount <fs> <mount point> [engine flags] [--scenario <file>]
//
// It takes the engine's mount command line, serves the remote-control methods on --rc-addr with
// basic authentication from RCLONE_RC_USER and RCLONE_RC_PASS, writes its log to --log-file and
// exits with status 0 on SIGINT or SIGTERM. It mounts only when the scenario asks for it.
//
// The scenario file (JSON; re-read on every request, so a test may change it while the engine
// runs) scripts replies and faults:
//   "bucket":        the local folder that stands for the bucket ("drivecrypt:X" is its folder X)
//   "methods":       {"<method>": {"reply": {...}, "status": 500, "error": "text",
//                                   "delay": seconds, "hang": true}}
//                    a fixed reply, a failure in the engine's error form, an answer after a
//                    delay, or none at all
//   "diskCache", "trash":  figures of "vfs/stats" ("trash" only when given)
//   "pendingUploads": [n, ...]: the uploads queued at each "vfs/stats" call, in turn (the
//                    last one repeats): uploads that drain over time
//   "silent":        true: no request is answered any more (an engine that hangs)
// and, read once at start:
//   "log":           lines appended to the log file at start, as given
//   "exitAfter":     {"seconds": s, "status": n, "log": [lines]}: exit with status n after s
//                    seconds, the lines (if any) the last ones of the log, leaving a mount
//                    behind dead, as a crash does
//   "ignoreSignals": true: SIGINT and SIGTERM do nothing
//   "mount":         true: mount the folder that stands for <fs> at <mount point> as the
//                    engine does (bindfs with the engine's FUSE subtype "rclone", so the mount
//                    table lists "fuse.rclone"); SIGINT and SIGTERM unmount it before the
//                    exit, and SIGKILL leaves it listed with its daemon dead
//   "orphan":        true: run on in a child whose parent exits at once with status 0, as an
//                    engine left behind by an application that went away
//   "testProcess":   the process id of the test that wrote the scenario: once it is gone (a
//                    test that crashed and ran no clean-up), the engine unmounts and exits
// "fake/connections" answers {"connections": n}, the TCP connections accepted so far.

#include "DriveCore/platform/MountTable.h"
#include "support/fake-engine/EngineMethods.h"
#include "support/FakeHttpServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

struct Options {
    QString fs;
    QString mountPoint;
    QString rcAddr;
    QString logFile;
    QString scenario;
};

// Flags of the mount command line that take a value; all others stand alone.
const QStringList valueFlags = {
    "--volname",
    "--cache-dir",
    "--vfs-cache-mode",
    "--vfs-read-chunk-size",
    "--vfs-read-chunk-streams",
    "--vfs-read-ahead",
    "--buffer-size",
    "--vfs-write-back",
    "--dir-cache-time",
    "--s3-chunk-size",
    "--s3-upload-concurrency",
    "--vfs-cache-max-size",
    "--vfs-cache-max-age",
    "--vfs-pin-file",
    "--contimeout",
    "--low-level-retries",
    "--vfs-trash-dir",
    "--vfs-conflict-name",
    "--rc-addr",
    "--log-file",
    "--log-level",
    "--log-file-max-size",
    "--log-file-max-backups",
    "--option",
    "--scenario",
};
const QStringList plainFlags = {"--rc", "--vfs-conflict-copy", "--read-only"};

// Parses the command line as the engine would; a message on failure.
std::optional<QString> parse(const QStringList &arguments, Options &options)
{
    if (arguments.value(0) != QLatin1String("nfsmount"))
        return QStringLiteral("fake engine: only the nfsmount command is supported");
    QStringList positional;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (!argument.startsWith(QLatin1String("--"))) {
            positional.append(argument);
        } else if (valueFlags.contains(argument)) {
            if (++i == arguments.size())
                return QStringLiteral("Error: flag needs an argument: %1").arg(argument);
            if (argument == QLatin1String("--rc-addr"))
                options.rcAddr = arguments[i];
            else if (argument == QLatin1String("--log-file"))
                options.logFile = arguments[i];
            else if (argument == QLatin1String("--scenario"))
                options.scenario = arguments[i];
        } else if (!plainFlags.contains(argument)) {
            return QStringLiteral("Error: unknown flag: %1").arg(argument);
        }
    }
    if (positional.size() != 2)
        return QStringLiteral("Error: accepts 2 arg(s), received %1").arg(positional.size());
    if (options.rcAddr.isEmpty())
        return QStringLiteral("fake engine: --rc-addr is needed");
    options.fs = positional[0];
    options.mountPoint = positional[1];
    return std::nullopt;
}

// The engine's log: "YYYY/MM/DD hh:mm:ss LEVEL : text" lines, in the log file or on standard error.
class LogFile {
public:
    explicit LogFile(const QString &path)
    {
        m_file.setFileName(path);
        if (path.isEmpty() || !m_file.open(QIODevice::Append | QIODevice::Text))
            m_file.open(stderr, QIODevice::WriteOnly);
    }

    void write(const char *level, const QString &text)
    {
        append(QStringLiteral("%1 %2: %3")
                   .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")),
                        QString::fromLatin1(level).leftJustified(6), text));
    }

    void append(const QString &line)
    {
        m_file.write(line.toUtf8() + '\n');
        m_file.flush();
    }

private:
    QFile m_file;
};

QJsonObject readScenario(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

FakeHttpResponse json(int status, const QJsonObject &object)
{
    return {status, QJsonDocument(object).toJson(QJsonDocument::Indented)};
}

// The engine's form of a refused call.
FakeHttpResponse failure(const QString &method, const QJsonObject &params, int status, const QString &error)
{
    return json(status,
                {{QStringLiteral("error"), error},
                 {QStringLiteral("input"), params},
                 {QStringLiteral("path"), method},
                 {QStringLiteral("status"), status}});
}

// The engine's own FUSE mount: a bindfs daemon of ours that dies with us.
class EngineMount {
public:
    explicit EngineMount(LogFile &log) : m_log(log) {}
    // A daemon still running dies with us, unlogged, and leaves its mount listed but dead.
    ~EngineMount() { QObject::disconnect(&m_daemon, nullptr, nullptr, nullptr); }

    void start(const QString &folder, const QString &mountPoint)
    {
        m_mountPoint = mountPoint;
        QDir().mkpath(folder);
        m_daemon.setProcessChannelMode(QProcess::ForwardedChannels);
        m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        QObject::connect(&m_daemon, &QProcess::finished, [this] {
            if (!m_unmounting)
                m_log.write("ERROR", QStringLiteral("mount: the file system daemon ended"));
        });
        m_daemon.start(
            QStringLiteral("bindfs"),
            {QStringLiteral("-f"), QStringLiteral("-o"), QStringLiteral("subtype=rclone"), folder, mountPoint});
        if (!m_daemon.waitForStarted())
            m_log.write("ERROR", QStringLiteral("mount: bindfs could not be started"));
    }

    void unmount()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        m_unmounting = true;
        // A stop that comes while bindfs is still mounting waits for the mount, as the engine
        // does: a daemon ended half-way would leave its mount behind, listed but dead.
        const QDeadlineTimer deadline(5000);
        while (!DriveCore::MountTable::isListedMountPoint(m_mountPoint) && !deadline.hasExpired()
               && !m_daemon.waitForFinished(10)) {
        }
        const QByteArray path = QFile::encodeName(m_mountPoint);
        if (::umount2(path.constData(), MNT_DETACH) != 0)
            QProcess::execute(QStringLiteral("fusermount3"),
                              {QStringLiteral("-u"), QStringLiteral("-z"), m_mountPoint});
        // A mount detached while something still holds it keeps its daemon: end it.
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(1000))
            m_daemon.kill();
        m_log.write("INFO", QStringLiteral("%1: Unmounted").arg(m_mountPoint));
    }

private:
    LogFile &m_log;
    QString m_mountPoint;
    QProcess m_daemon;
    bool m_unmounting = false;
};

int signalPipe[2];

void onSignal(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    Options options;
    if (const auto error = parse(arguments, options)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    QJsonObject scenario = readScenario(options.scenario);
    // Before any thread exists: the child goes on alone.
    if (scenario.value(QStringLiteral("orphan")).toBool()) {
        const pid_t child = ::fork();
        if (child != 0)
            ::_exit(child < 0 ? 1 : 0);
    }
    QCoreApplication app(argc, argv);
    LogFile log(options.logFile);
    EngineMount mount(log);
    for (const QJsonValue line : scenario.value(QStringLiteral("log")).toArray())
        log.append(line.toString());

    ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char number = 0;
        [[maybe_unused]] const auto read = ::read(signalPipe[0], &number, 1);
        log.write("NOTICE",
                  number == SIGINT ? QStringLiteral("Signal received: interrupt")
                                   : QStringLiteral("Signal received: terminated"));
        mount.unmount();
        log.write("INFO", QStringLiteral("Exiting..."));
        app.exit(0);
    });
    // Outlives the application that started it, as a real engine does, but not the test.
    QTimer ownerWatch;
    if (const pid_t testProcess = pid_t(scenario.value(QStringLiteral("testProcess")).toInteger()); testProcess > 0) {
        QObject::connect(&ownerWatch, &QTimer::timeout, &app, [&, testProcess] {
            if (::kill(testProcess, 0) == 0 || errno != ESRCH)
                return;
            log.write("NOTICE", QStringLiteral("The test is gone"));
            mount.unmount();
            app.exit(0);
        });
        ownerWatch.start(1000);
    }

    const bool ignoreSignals = scenario.value(QStringLiteral("ignoreSignals")).toBool();
    std::signal(SIGINT, ignoreSignals ? SIG_IGN : onSignal);
    std::signal(SIGTERM, ignoreSignals ? SIG_IGN : onSignal);

    const QString user = qEnvironmentVariable("RCLONE_RC_USER");
    const QString pass = qEnvironmentVariable("RCLONE_RC_PASS");
    const QByteArray authorization = "Basic " + (user + u':' + pass).toUtf8().toBase64();
    const bool needsAuthorization = !user.isEmpty() || !pass.isEmpty();

    EngineMethods methods(options.fs);
    FakeHttpServer *server = nullptr;
    server = new FakeHttpServer(
        [&](const FakeHttpRequest &request, const FakeHttpServer::Respond &respond) {
            if (needsAuthorization && request.header("authorization") != authorization) {
                respond({401,
                         "Unauthorized\n",
                         "text/plain; charset=utf-8",
                         {{"Www-Authenticate", "Basic realm=\"rclone\""}}});
                return;
            }
            if (request.method != "POST") {
                respond({404, "Not Found\n", "text/plain; charset=utf-8", {}});
                return;
            }
            const QString method = QString::fromUtf8(request.path.mid(1));
            QJsonParseError parseError;
            const QJsonDocument body = QJsonDocument::fromJson(request.body, &parseError);
            if (parseError.error != QJsonParseError::NoError) {
                log.write("ERROR", QStringLiteral("rc: \"%1\": error: failed to read input JSON").arg(method));
                respond(
                    failure(method, {}, 400, QStringLiteral("failed to read input JSON: ") + parseError.errorString()));
                return;
            }
            const QJsonObject params = body.object();
            if (const QJsonObject current = readScenario(options.scenario); !current.isEmpty())
                scenario = current;
            methods.setScenario(scenario);
            if (scenario.value(QStringLiteral("silent")).toBool())
                return;
            const QJsonObject rule = scenario.value(QStringLiteral("methods")).toObject().value(method).toObject();
            if (rule.value(QStringLiteral("hang")).toBool())
                return;

            const auto answer = [&log, &methods, server, method, params, rule]() -> FakeHttpResponse {
                if (rule.contains(QStringLiteral("status")))
                    return failure(method, params, rule.value(QStringLiteral("status")).toInt(),
                                   rule.value(QStringLiteral("error")).toString());
                if (rule.contains(QStringLiteral("reply")))
                    return json(200, rule.value(QStringLiteral("reply")).toObject());
                if (method == QLatin1String("fake/connections"))
                    return json(200, {{QStringLiteral("connections"), server->connectionsAccepted()}});
                try {
                    return json(200, methods.call(method, params));
                } catch (const MethodFailure &refused) {
                    log.write("ERROR", QStringLiteral("rc: \"%1\": error: %2").arg(method, refused.error));
                    return failure(method, params, refused.status, refused.error);
                }
            };
            const double delay = rule.value(QStringLiteral("delay")).toDouble();
            if (delay > 0)
                QTimer::singleShot(int(delay * 1000), server, [answer, respond] { respond(answer()); });
            else
                respond(answer());
        },
        &app);

    const qsizetype colon = options.rcAddr.lastIndexOf(u':');
    if (!server->listen(quint16(options.rcAddr.mid(colon + 1).toUInt()))) {
        log.write("CRITICAL",
                  QStringLiteral("Failed to start remote control: listen tcp %1: %2")
                      .arg(options.rcAddr, server->errorString()));
        return 1;
    }
    log.write("NOTICE", QStringLiteral("Serving remote control on http://%1/").arg(options.rcAddr));

    if (scenario.value(QStringLiteral("mount")).toBool()) {
        methods.setScenario(scenario);
        try {
            mount.start(methods.root(options.fs), options.mountPoint);
        } catch (const MethodFailure &failure) {
            log.write("ERROR", QStringLiteral("mount: %1").arg(failure.error));
        }
    }

    const QJsonObject exitAfter = scenario.value(QStringLiteral("exitAfter")).toObject();
    if (!exitAfter.isEmpty()) {
        QTimer::singleShot(int(exitAfter.value(QStringLiteral("seconds")).toDouble() * 1000), &app, [&] {
            const int status = exitAfter.value(QStringLiteral("status")).toInt();
            log.write("ERROR", QStringLiteral("fake engine: exiting with status %1").arg(status));
            for (const QJsonValue line : exitAfter.value(QStringLiteral("log")).toArray())
                log.append(line.toString());
            app.exit(status);
        });
    }
    return app.exec();
}
