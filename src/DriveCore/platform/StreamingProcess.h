#pragma once

#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/support/Cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace DriveCore::StreamingProcess {

// Hands one piece to the child's standard input and returns once the pipe has taken all of it.
// Throws CancelledError once the run is cancelled, and std::system_error when the pipe fails
// (EPIPE when the child has closed its end).
using Write = std::function<void(const QByteArray &piece)>;
// Writes the child's whole input through `write`. Runs on a thread of its own; throws to fail.
using Produce = std::function<void(const Write &write)>;

struct Result {
    int32_t status = -1; // the exit code; -1 when a signal ended the child
    QByteArray stderrTail; // the last bytes of standard error, no more than the limit asked for
    int32_t signal = 0; // the signal that ended the child; 0 when it exited
};

// Runs `program` without a shell and with exactly `environment`, standard output on the null
// device and standard input fed by `produce` on a new thread; the input is closed once it
// returns. Returns when the child has exited, never earlier, so no child outlives the call.
// - `produce` fails: the child is interrupted (SIGINT) and awaited, then that error is thrown.
//   When the failure came from a child that had stopped reading and then failed, its result is
//   returned instead: its standard error says why, a broken pipe does not.
// - `token` cancelled: the child is interrupted at once, a write waiting on the pipe gives up,
//   and CancelledError is thrown once the child has exited.
// Throws ProcessRunner::LaunchError when the program cannot be started.
QCoro::Task<Result> run(QString program, QStringList arguments, Environment environment, Produce produce,
                        qsizetype stderrLimit, CancelToken token = {});

} // namespace DriveCore::StreamingProcess
