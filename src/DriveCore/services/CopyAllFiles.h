#pragma once

#include "DriveCore/keys/DriveConnection.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/support/Cancellation.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <optional>

namespace DriveCore {

// One progress report of a copy of the whole drive.
struct CopyProgress {
    qint64 bytesDone = 0;
    qint64 bytesTotal = 0; // as far as the engine knows at that moment

    bool operator==(const CopyProgress &) const = default;
};

// Copying every file of the drive into an ordinary folder, and measuring the drive beforehand,
// each with a one-shot engine command of the storage connection (its program and environment)
// that reads straight from the bucket (no mount needed).
namespace CopyAllFiles {

// The report of one line of the engine's JSON log: its "stats" "bytes" and "totalBytes"
// ("bytes" again when the total is missing). None for any other line.
std::optional<CopyProgress> progress(const QString &logLine);

// Copies the drive's files into the folder at `destination`, leaving files that already exist
// there untouched. `onProgress` gets one report per statistics line of the engine, in order, on
// this thread. Files already copied stay whatever the outcome; after a stop or a failure, the
// files the engine was still writing are removed again when their size is not the source's, so
// that the next copy completes them (only inside `destination`, no link followed). Throws
// RcloneCommand::ObscureError (nothing started), ProcessRunner::LaunchError, ConnectionError
// classified from the redacted tail of a failed copy's standard error (or naming the signal
// that ended the engine), and CancelledError once `token` is cancelled, even when the engine
// then reports success.
QCoro::Task<> copyAll(DriveConnection connection, QString destination, StorageSecrets secrets, QString passphrase,
                      std::function<void(const CopyProgress &)> onProgress, CancelToken token = {});

// The total size in bytes of every file in the drive. Throws as copyAll (CancelledError once
// `token` is cancelled), and JsonDecodingError for a size reply that does not decode.
QCoro::Task<qint64> driveSize(DriveConnection connection, StorageSecrets secrets, QString passphrase,
                              CancelToken token = {});

} // namespace CopyAllFiles

} // namespace DriveCore
