#pragma once

#include "DriveCore/shares/ShareFormat.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <stdexcept>

namespace DriveCore {

// What a holder of a share link learns about the share: sealed as its "manifest" object.
struct ShareManifest {
    struct File {
        QString path; // inside the share, "/"-separated, no leading "/"
        qint64 size = 0;
        std::optional<QString> modified; // ISO 8601 in UTC with whole seconds, like 2026-03-04T05:06:07Z

        bool operator==(const File &) const = default;
    };

    // The JSON is not a manifest: a required key missing or of the wrong type, a chunk size that
    // is not positive, a negative file size, or a version beyond int.
    class DecodingError : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    ShareManifest(QString title, qint64 chunkSize, QList<File> files)
        : title(std::move(title)), chunkSize(chunkSize), files(std::move(files))
    {
    }

    // Compact, keys sorted at every level, "/" written as itself, "modified" left out when
    // absent: the bytes the link page opens.
    QByteArray json() const;
    // Ignores keys it does not know. Throws DecodingError.
    static ShareManifest fromJson(const QByteArray &json);

    bool operator==(const ShareManifest &) const = default;

    int v = ShareFormat::version;
    QString title;
    qint64 chunkSize;
    QList<File> files; // entry i describes the object "f/<i>"
};

} // namespace DriveCore
