#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace DriveCore {

// The plain link metadata, "meta.json": readable without a key, and written last, so a link
// is live exactly while it exists. Carries the access hash, never a key.
struct ShareMeta {
    // Sets `v` to 1, `downloads` to 0 and a fresh random `ticketKey`.
    ShareMeta(QString accessHash, bool needsPassword, qint64 pwRounds, qint64 createdAt,
              std::optional<qint64> expiresAt, std::optional<qint64> maxDownloads, qint64 fileCount, qint64 totalBytes,
              QList<qint64> encryptedSizes);

    // The "meta.json" bytes: compact, all twelve keys in sorted order, JSON null for an absent
    // expiry or download limit.
    QByteArray encoded() const;

    bool operator==(const ShareMeta &) const = default;

    int v = 1;
    QString accessHash;
    QString ticketKey; // 64 hex digits for the link page's own use; never read back here
    bool needsPassword = false;
    qint64 pwRounds = 0; // written with or without a password
    qint64 createdAt = 0; // whole seconds since 1970
    std::optional<qint64> expiresAt;
    std::optional<qint64> maxDownloads;
    int downloads = 0;
    qint64 fileCount = 0;
    qint64 totalBytes = 0;
    QList<qint64> encryptedSizes; // in file-index order
};

} // namespace DriveCore
