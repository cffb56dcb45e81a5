#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/shares/ShareLinks.h"

#include <QByteArray>
#include <QCoroTask>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace DriveCore {

// The user's link records: "shares/<id>.json" in the drive's metadata folder, reached through the
// engine's remote control, so they are encrypted like every drive file and every machine of the
// drive sees the same list. Records pass through a scratch folder of each operation, readable
// only by us and removed afterwards whatever happened, since they hold link secrets and passwords.
class ShareRecords {
public:
    ShareRecords(RCClient rc, QString metaFs) : m_rc(std::move(rc)), m_metaFs(std::move(metaFs)) {}

    // Writes or replaces the record. Throws ShareFormat::Failure::badShareID before anything is
    // written, std::system_error for the scratch folder, or RCError.
    QCoro::Task<> save(ShareRecord record, CancelToken token = {}) const;
    // A record that is already gone counts as removed. Throws ShareFormat::Failure::badShareID
    // before anything is sent, or RCError.
    QCoro::Task<> remove(QString id, CancelToken token = {}) const;
    // Every readable record, newest first (equal times in listing order). Objects that cannot be
    // fetched or are not records are left out; a drive that never had a link gives none. Throws
    // RCError only when the folder cannot be listed.
    QCoro::Task<QList<ShareRecord>> all(CancelToken token = {}) const;

    // The stored form of a record: compact JSON with sorted keys, "/" written as "\/", whole-second
    // dates, and absent optional fields left out.
    static QByteArray encoded(const ShareRecord &record);
    // Throws JsonDecodingError when a key that is always written is missing or any value is of the
    // wrong kind. Other keys are ignored.
    static ShareRecord decoded(const QByteArray &json);

    // The encoder and decoder behind those, shared with the link page's record.
    static QByteArray encode(const QJsonObject &object);
    // Throws JsonDecodingError when the bytes are not one JSON object.
    static QJsonObject decode(const QByteArray &json);
    // An internet date-time in UTC with whole seconds, such as 2026-01-31T09:05:00Z; the fraction
    // of a second is cut off.
    static QString dateText(const QDateTime &date);
    // Reads what dateText writes, and the same with a "+hh:mm" or "-hh:mm" offset; none otherwise,
    // and none for an instant outside the years 1 to 9999 in UTC, which dateText could not write.
    static std::optional<QDateTime> date(const QString &text);

    // Moving one small file between this machine and the drive's metadata folder, through a
    // scratch folder named `prefix` and random characters that goes again afterwards whatever
    // happened. What is moved may be secret, so it never lies anywhere else on this machine.
    //
    // Writes or replaces `remote` in `fs` with `data`. Throws std::system_error for the scratch
    // folder, or RCError.
    static QCoro::Task<> putFile(RCClient rc, QString prefix, QByteArray data, QString fs, QString remote,
                                 CancelToken token = {});
    // The bytes of `remote` in `fs`. Throws std::system_error for the scratch folder or the copy,
    // or RCError (a missing object's message contains "not found").
    static QCoro::Task<QByteArray> fetchFile(RCClient rc, QString prefix, QString fs, QString remote,
                                             CancelToken token = {});

    // The prefix of every scratch folder: "CorvaneDrive-shares-" and random characters.
    static constexpr const char *scratchPrefix = "CorvaneDrive-shares-";

private:
    RCClient m_rc;
    QString m_metaFs;
};

} // namespace DriveCore
