#pragma once

#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/shares/ShareStorage.h"
#include "DriveCore/support/UserError.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

namespace DriveCore {

// Share objects in the bucket through the engine program's plain remote, one run of the program
// per operation: "rcat" streams an object in, "deletefile" and "purge" remove. No run outlives
// its operation.
class RcloneShareStorage : public ShareStorage {
public:
    // An upload or removal the engine program refused, or an object name that is not one.
    class Failure : public UserError {
    public:
        explicit Failure(const QString &description) : UserError(description), description(description) {}
        bool operator==(const Failure &other) const { return description == other.description; }
        QString description;
    };

    // Keeps the three as given. `environment` is the whole environment of every run.
    RcloneShareStorage(QString rclone, Environment environment, QString sharesFs)
        : rclone(std::move(rclone)), environment(std::move(environment)), sharesFs(std::move(sharesFs))
    {
    }

    // The shares folder of a drive's bucket on the plain remote: "drive:<bucket>/ovra-shares".
    // The environment must configure the remote "drive" (RcloneCommand::environment does).
    static RcloneShareStorage forDrive(QString rclone, Environment environment, const QString &bucket);

    // "rcat" with the exact size, so the remote takes the stream as one object of that length.
    // Throws as path() does, then ProcessRunner::LaunchError, the producer's error,
    // CancelledError, or Failure "upload failed: " and the end of the program's standard error.
    QCoro::Task<> upload(QString id, QString name, qint64 size, Produce produce, CancelToken token = {}) const override;
    QCoro::Task<> put(QString id, QString name, QByteArray data, CancelToken token = {}) const override;
    // A program error that says the object or folder is not there counts as done; any other,
    // and any death by a signal, is Failure "delete failed: " and why (failure()).
    QCoro::Task<> deleteObject(QString id, QString name, CancelToken token = {}) const override;
    QCoro::Task<> deleteAll(QString id, CancelToken token = {}) const override;

    // "<sharesFs>/<id>", then "/<name>" for "manifest", "meta.json" or "f/<n>" (n a decimal
    // number of 0 or more, an optional sign allowed). Throws ShareFormat::Failure::badShareID,
    // or Failure "bad share object name" for any other name.
    QString path(const QString &id, const std::optional<QString> &name) const;

    static QStringList rcatArguments(const QString &destination, qint64 size);
    // The last 400 characters of standard error, trimmed.
    static QString tail(const QByteArray &stderrBytes);
    // Why a command failed: the signal that ended it, else tail() of its standard error.
    static QString failure(int32_t signal, const QByteArray &stderrBytes);
    static bool isNotFound(const QByteArray &stderrBytes);

    QString rclone;
    Environment environment;
    QString sharesFs;

private:
    static QCoro::Task<> remove(QString program, Environment environment, QStringList arguments, CancelToken token);
};

} // namespace DriveCore
