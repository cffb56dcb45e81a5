#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QDateTime>
#include <QString>

#include <optional>

namespace DriveCore {

// The drive's details as the phone app reads them from the synced item. It holds the
// passphrase, so it exists only while the user has sync switched on.
struct PhoneSyncItem {
    qint64 v = 1;
    QString endpoint;
    QString bucket;
    QString accessKeyID;
    QString secretAccessKey;
    QString passphrase;
    QString driveName;
    QString macName; // the name this computer uses for the drive
    QDateTime savedAt;

    bool operator==(const PhoneSyncItem &) const = default;

    // Compact JSON; "savedAt" is a number: seconds, with fraction, since 2001-01-01 00:00:00 UTC.
    QByteArray toJson() const;
    // None unless every key is present with its type.
    static std::optional<PhoneSyncItem> fromJson(const QByteArray &json);
};

// Where the synced item for the phone app is kept.
class PhoneSyncStoring {
public:
    static inline const QString notAvailableText = QStringLiteral("Not available in this version.");

    virtual ~PhoneSyncStoring() = default;

    virtual bool isAvailable() const = 0;
    // Creates or replaces the item. Throws AppModelError.
    virtual QCoro::Task<> write(PhoneSyncItem item) = 0;
    // Removes the item; no item is fine. Throws AppModelError.
    virtual QCoro::Task<> remove() = 0;
};

// The live store on this platform, which has no keychain that syncs to the phone: it offers
// nothing. Writing throws AppModelError with notAvailableText; removing does nothing.
class NoPhoneSync final : public PhoneSyncStoring {
public:
    bool isAvailable() const override { return false; }
    QCoro::Task<> write(PhoneSyncItem item) override;
    QCoro::Task<> remove() override;
};

} // namespace DriveCore
