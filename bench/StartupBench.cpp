// How soon a new user sees a window: from the command to the first window mapped on an X server
// of its own (Xvfb), in a fresh home each run (the setup window, and the home window as no tray
// is on the bus). Run it, after a build, under a private session bus and keyring:
//
//   tests/support/keyring-session build/bench/StartupBench [runs]
//
// 1. `scripts/run` to the first window, with everything built and installed: its package check,
//    the build folder's configure and build, the local storage service (on a free port), then
//    the program. It runs the source tree's folder `build`. Goal: under 1.5 s.
// 2. The same with `--storage own`: no storage service, whose start (node loading s3rver) the
//    program waits for in 1.
// 3. The program itself, started to its first window. Goal: under 0.5 s.
// They take turns; the figures are medians of `runs` (7 unless given) after one warm-up each.
#include "support/FreePort.h"
#include "support/StopProcess.h"
#include "support/XvfbDisplay.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include <poll.h>

using namespace std::chrono_literals;

namespace {

// Map notifications of top-level windows on the display.
class MapWatch {
public:
    explicit MapWatch(const QString &display) : m_connection(xcb_connect(display.toLocal8Bit().constData(), nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
    }
    ~MapWatch() { xcb_disconnect(m_connection); }
    MapWatch(const MapWatch &) = delete;
    MapWatch &operator=(const MapWatch &) = delete;

    bool isConnected() const { return !xcb_connection_has_error(m_connection); }

    void drain()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

    // Waits for a window (not a menu or tooltip) to be mapped; false when none was within `limit`.
    bool awaitMap(std::chrono::milliseconds limit)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < limit.count()) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY
                    && !reinterpret_cast<xcb_map_notify_event_t *>(event)->override_redirect;
                std::free(event);
                if (mapped)
                    return true;
            }
            pollfd descriptor{.fd = xcb_get_file_descriptor(m_connection), .events = POLLIN, .revents = 0};
            ::poll(&descriptor, 1, 50);
        }
        return false;
    }

private:
    xcb_connection_t *m_connection;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Seconds from starting `program` to its first window, in a fresh home; none when no window came.
std::optional<double> timeToFirstWindow(MapWatch &watch, const QString &display, const QString &program,
                                        const QStringList &arguments)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    for (const auto &[variable, folder] : {std::pair{"XDG_CONFIG_HOME", "config"}, std::pair{"XDG_DATA_HOME", "data"},
                                           std::pair{"XDG_STATE_HOME", "state"}})
        environment.insert(QString::fromLatin1(variable), home.filePath(QString::fromLatin1(folder)));
    // The machine's caches stay (fonts, scripts/run's package stamp), as for a user of a machine
    // where everything is installed.
    environment.insert(QStringLiteral("XDG_CACHE_HOME"),
                       qEnvironmentVariable("XDG_CACHE_HOME", QDir::homePath() + QStringLiteral("/.cache")));
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
    environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    environment.insert(QStringLiteral("CORVANE_RUN_S3_PORT"), QString::number(TestSupport::freePort()));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));

    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(home.filePath(QStringLiteral("errors.log")));
    watch.drain();
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    const bool shown = watch.awaitMap(60s);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    // scripts/run stops what it started (the program, then the storage service) on SIGTERM.
    TestSupport::stopProcess(process, 30s);
    if (!shown) {
        QFile errors(home.filePath(QStringLiteral("errors.log")));
        errors.open(QIODevice::ReadOnly);
        std::fprintf(stderr, "No window from %s:\n%s\n", qPrintable(program), errors.readAll().constData());
        return std::nullopt;
    }
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        std::fprintf(stderr, "Run under tests/support/keyring-session.\n");
        return 2;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    TestSupport::XvfbDisplay display;
    if (!display.start()) {
        std::fprintf(stderr, "Xvfb did not start: %s\n", qPrintable(display.output()));
        return 1;
    }
    MapWatch watch(display.display());
    if (!watch.isConnected()) {
        std::fprintf(stderr, "No connection to %s\n", qPrintable(display.display()));
        return 1;
    }
    const QString script = QStringLiteral(CORVANE_SOURCE_DIR "/scripts/run");
    const QString program = QStringLiteral(CORVANE_APP_PROGRAM);

    std::vector<double> command, commandOwnStorage, start;
    for (int run = 0; run <= runs; ++run) {
        const std::optional<double> byCommand = timeToFirstWindow(watch, display.display(), script, {});
        const std::optional<double> byCommandOwnStorage =
            timeToFirstWindow(watch, display.display(), script, {QStringLiteral("--storage"), QStringLiteral("own")});
        const std::optional<double> byProgram = timeToFirstWindow(watch, display.display(), program, {});
        if (!byCommand || !byCommandOwnStorage || !byProgram)
            return 1;
        // The first round warms the caches and builds what is missing.
        if (run == 0)
            continue;
        command.push_back(*byCommand);
        commandOwnStorage.push_back(*byCommandOwnStorage);
        start.push_back(*byProgram);
    }
    std::printf("scripts/run to the first window: %.3f s median of %d (goal < 1.5 s)\n", median(command), runs);
    std::printf("scripts/run --storage own to the first window: %.3f s median of %d\n", median(commandOwnStorage),
                runs);
    std::printf("Program start to the first window: %.3f s median of %d (goal < 0.5 s)\n", median(start), runs);
    return 0;
}
