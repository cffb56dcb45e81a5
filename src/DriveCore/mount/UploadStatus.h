#pragma once

#include "DriveCore/engine/RCClient.h"

#include <QList>
#include <QString>

#include <optional>
#include <variant>

namespace DriveCore {

// One file of the uploads list: uploading, waiting or recently finished.
struct UploadRow {
    struct Uploading {
        qint64 percent = 0;
        std::optional<qint64> etaSeconds;
        bool operator==(const Uploading &) const = default;
    };
    struct Waiting {
        QString reason;
        bool operator==(const Waiting &) const = default;
    };
    struct Problem {
        QString text;
        bool operator==(const Problem &) const = default;
    };
    struct Safe {
        bool operator==(const Safe &) const = default;
    };
    using State = std::variant<Uploading, Waiting, Problem, Safe>;

    QString id; // the transfer's name: the file's path inside the drive
    QString name; // its last non-empty piece, what is shown
    qint64 size = 0;
    State state;

    bool operator==(const UploadRow &) const = default;
};

// Turns one snapshot of the engine's figures into the uploads list and the status line. Only
// uploads into the mounted drive count; everything else the engine reports is left out.
namespace UploadStatus {

inline constexpr const char *waitingText = "Waiting for internet";
inline constexpr const char *problemText = "Couldn't upload yet \u2014 will keep trying";
inline constexpr const char *allSafeText = "All files safe in cloud \u2713";

// The transfers in progress (uploading while online, else waiting), in the engine's order,
// then one row per finished file that is not uploading again, in order of first mention, its
// last report deciding between problem and safe. `vfs` takes no part.
QList<UploadRow> rows(const CoreStats &stats, const QList<Transferred> &transferred, const VFSStats &vfs, bool online);

// From the engine's pending count: "All files safe in cloud ✓" when none, "Waiting for
// internet" offline, else "Uploading <n> file(s) — <m> min left" after the longest estimate.
QString statusLine(const QList<UploadRow> &rows, const VFSStats &vfs, bool online);

} // namespace UploadStatus

} // namespace DriveCore
