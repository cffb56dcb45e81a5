#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <array>
#include <optional>

namespace DriveCore {

// How long a new link stays open. Stored as its case name, matched exactly.
class ShareExpiry {
public:
    enum Value { oneHour, oneDay, sevenDays, thirtyDays, never };

    static constexpr std::array<Value, 5> allCases = {oneHour, oneDay, sevenDays, thirtyDays, never};
    static constexpr Value defaultValue = sevenDays;

    constexpr ShareExpiry(Value value = defaultValue) : value(value) {}

    // Seconds after creation; none for `never`.
    std::optional<qint64> seconds() const;
    // "oneHour", "oneDay", "sevenDays", "thirtyDays" or "never".
    QString text() const;
    // None for any other text, one that differs only in letter case included.
    static std::optional<ShareExpiry> fromText(QStringView text);

    bool operator==(const ShareExpiry &) const = default;

    Value value;
};

// What the user chose for a new link.
struct ShareOptions {
    ShareExpiry expiry;
    std::optional<qint64> maxDownloads; // none: no limit
    std::optional<QString> password; // an empty one counts as none when the link is made

    bool operator==(const ShareOptions &) const = default;
};

// Which file a path named when it was looked at: what is read later must be that file, not
// whatever took its place.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;

    bool operator==(const FileIdentity &) const = default;
};

// One local file that goes into a share.
struct ShareItem {
    QString path; // inside the share as the recipient sees it: "name" or "folder/below/name"
    QString url; // where the file is read from on this machine
    qint64 size = 0; // when it was collected; 0 when the size could not be read
    std::optional<QDateTime> modified;
    FileIdentity identity; // the file that was at `url` when it was collected

    bool operator==(const ShareItem &) const = default;
};

// Plain bytes sealed and handed to the storage so far, of all the link's files.
struct ShareProgress {
    qint64 done = 0;
    qint64 total = 0;

    // 1 when there is nothing to do.
    double fraction() const { return total == 0 ? 1.0 : double(done) / double(total); }

    bool operator==(const ShareProgress &) const = default;
};

// One link as the user's list keeps it (its stored form is ShareRecords::encoded).
struct ShareRecord {
    QString id; // the share id, 22 characters
    QString secret; // base64url of the 32-byte secret: the link's part after "#"
    std::optional<QString> password; // as typed; none for a link without one
    QString title;
    QStringList items; // drive paths of the picked files and folders, not the expanded list
    qint64 fileCount = 0;
    qint64 totalBytes = 0;
    QDateTime createdAt;
    std::optional<QDateTime> expiresAt; // none for a link that never expires
    std::optional<qint64> maxDownloads;
    QUrl workerURL; // the link page that serves it
    QString createdBy; // the name of the machine that made it

    // ShareLink::url of the record.
    QUrl link() const;
    // At or after its expiry; never for a link without one.
    bool isExpired(const QDateTime &now) const;

    bool operator==(const ShareRecord &) const = default;
};

namespace ShareLink {

// The link page's address without trailing "/", then "/s/", the id, "#" and the secret. The
// secret travels only in the fragment, which browsers never send.
QUrl url(const QUrl &workerURL, const QString &id, const QString &secret);

// The absolute text of an address with every trailing "/" removed.
QString trimmedBase(const QUrl &workerURL);

} // namespace ShareLink

} // namespace DriveCore
