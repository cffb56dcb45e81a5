#pragma once

#include "DriveCore/support/Cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>

namespace DriveCore {

// A child's whole environment: nothing of ours is inherited.
using Environment = QMap<QString, QString>;

// What a one-shot command left behind. (`stdout` and `stderr` are macros in C, hence the names.)
// A child a signal ended has no exit status: `status` is then -1, never the signal's number,
// which would read as one of the engine's own statuses (SIGQUIT is 3, "not found"). Callers
// treat a signal death as a failed command.
struct RcloneResult {
    int32_t status = -1; // the exit code; -1 when a signal ended the child
    QByteArray stdoutBytes;
    QByteArray stderrBytes;
    int32_t signal = 0; // the signal that ended the child; 0 when it exited

    // Standard error as UTF-8, invalid sequences replaced.
    QString stderrText() const;
};

namespace ProcessRunner {

// The program could not be started; nothing ran.
class LaunchError : public std::runtime_error {
public:
    LaunchError(const QString &program, const QString &reason);
};

struct StreamResult {
    int32_t status = -1; // as in RcloneResult
    QString tail; // the last five lines of standard error, joined by "\n"
    int32_t signal = 0; // as in RcloneResult
};

// How a child ended, read from its finished QProcess.
struct Ending {
    int32_t status = -1; // as in RcloneResult
    int32_t signal = 0;
};
Ending ending(const QProcess &process);

// "signal 3 (SIGQUIT)": a signal death in words for logs and error details.
QString signalText(int32_t signal);

// Runs `program` without a shell and collects both outputs. `input`, when given, is written
// to its standard input, which is then closed; otherwise standard input is the null device.
// Cancelling `token` interrupts the child (SIGINT); the call still waits for it and returns
// its result. Neither a non-zero status nor a signal death throws: the caller judges the
// result. Throws LaunchError.
QCoro::Task<RcloneResult> run(QString program, QStringList arguments, Environment environment,
                              std::optional<QByteArray> input = std::nullopt, CancelToken token = {});

// Runs `program` with standard input and output on the null device, handing each line of
// standard error to `onStderrLine` as it arrives (on the main thread, in order) and keeping
// only the last five. Cancellation as in run(). Throws LaunchError.
QCoro::Task<StreamResult> stream(QString program, QStringList arguments, Environment environment,
                                 std::function<void(const QString &)> onStderrLine, CancelToken token = {});

// Sets `process` up to run `program` without a shell and with exactly `environment`, SIGPIPE
// ignored, and the child's interrupt and quit signals as restoreChildSignals() leaves them: for
// callers that drive a child of their own. A caller that sets its own child modifier calls
// restoreChildSignals() in it.
void prepare(QProcess &process, const QString &program, const QStringList &arguments, const Environment &environment);

// In the child, before exec: SIGINT and SIGQUIT back to their default action. A parent started
// with them ignored (a background job of a script) would pass that on, and the interrupt that
// cancels a child would then do nothing.
void restoreChildSignals();

// Ignores SIGPIPE for the whole process: a child that exits without reading its input must
// not end us. Called before the first child is started; idempotent.
void ignoreSigpipe();

} // namespace ProcessRunner

} // namespace DriveCore
