#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/support/Cancellation.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace DriveCore {

// One kept item as the engine reports it ("vfs/pins"); every key is required.
struct PinStatus {
    QString path; // drive-relative
    bool isDir = false;
    qint64 files = 0;
    qint64 filesDone = 0; // how many of them are on this machine
    qint64 bytes = 0;
    qint64 bytesDone = 0;
    QString state; // "done", "missing", "offline", "lowSpace"; anything else is still keeping

    bool operator==(const PinStatus &) const = default;
    static PinStatus decode(const JsonReader &reader);
};

// The reply of "vfs/pins".
struct PinsReply {
    QList<PinStatus> pins;
    QString state; // the engine's overall keep state

    bool operator==(const PinsReply &) const = default;
    static PinsReply decode(const JsonReader &reader);
};

// The reply of "vfs/pin".
struct PinReply {
    qint64 needed = 0; // bytes the request needs
    qint64 free = 0; // bytes free on this machine
    bool notEnoughSpace = false;

    static PinReply decode(const JsonReader &reader);
};

// What keeping paths came to.
struct PinResult {
    enum class Kind { notEnoughSpace, added };

    Kind kind = Kind::added;
    qint64 needed = 0; // only for notEnoughSpace
    qint64 free = 0;

    static PinResult notEnoughSpace(qint64 needed, qint64 free) { return {Kind::notEnoughSpace, needed, free}; }
    static PinResult added() { return {}; }
    bool operator==(const PinResult &) const = default;
};

// The engine's pin methods, on the client of the running engine. `fs` is the drive's remote
// (RCClient::mountFs); paths are drive-relative, sent in the caller's order. Each fails as
// RCClient::call fails (a reply lacking a required key included) and retries nothing.
QCoro::Task<PinsReply> pins(const RCClient &rc, QString fs, CancelToken token = {});
QCoro::Task<PinResult> pin(const RCClient &rc, QStringList paths, QString fs, CancelToken token = {});
// The bytes freed on this machine.
QCoro::Task<qint64> unpin(const RCClient &rc, QStringList paths, QString fs, CancelToken token = {});
QCoro::Task<> pinScan(const RCClient &rc, QString fs, CancelToken token = {});

// Keeping chosen files downloaded on this machine: the texts built from the engine's answers.
namespace KeepOnMac {

// "Not enough space to keep these on this computer. They need <needed>; this computer has <free> free."
QString notEnoughSpaceText(qint64 needed, qint64 free);

// The keep progress line, or none when there is nothing to report.
std::optional<QString> progressLine(const PinsReply &reply);

// The drive-relative path of an absolute path inside the mount folder (see KeepMenu::drivePath).
std::optional<QString> drivePath(const QString &location, const QString &mount);

// The rows that lie inside no other kept folder: a file kept on its own inside a kept folder is
// already counted by the folder. Order is kept.
QList<PinStatus> outermost(const QList<PinStatus> &rows);

} // namespace KeepOnMac

} // namespace DriveCore
