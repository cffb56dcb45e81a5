#pragma once

#include "DriveCore/shares/ShareLinks.h"
#include "DriveCore/shares/SharesModel.h"

#include <QList>
#include <QString>

#include <optional>
#include <utility>

// The choices for a new link and when "Create Link" may start it. The choices live as long as
// the form: a new form starts from the defaults (seven days, no limit, no password).
class ShareFormPresenter {
public:
    enum class Limit { none, one, five, ten, custom };

    static inline const QString explanationText =
        QStringLiteral("Anyone with the link can download a copy, until it expires or you stop sharing it.");
    static inline const QString expiryLabel = QStringLiteral("Link works for");
    static inline const QString limitLabel = QStringLiteral("Downloads");
    static inline const QString customLimitLabel = QStringLiteral("Number of downloads");
    static inline const QString passwordToggleTitle = QStringLiteral("Ask for a password");
    static inline const QString passwordLabel = QStringLiteral("Password");
    static inline const QString passwordNote =
        QStringLiteral("Send the password to your friend separately, for example by text message.");
    static inline const QString neverNote =
        QStringLiteral("The locked copy stays in your storage (and counts towards it) until you stop sharing.");
    static inline const QString createTitle = QStringLiteral("Create Link");

    // The pickers' options, in their order.
    static const QList<std::pair<QString, DriveCore::ShareExpiry::Value>> expiryOptions;
    static const QList<std::pair<QString, Limit>> limitOptions;

    // The stepper's range; typed numbers are not held to it (the model refuses them).
    static constexpr int customLimitMin = 1;
    static constexpr int customLimitMax = 10'000;
    static constexpr int numberFieldWidth = 80;

    DriveCore::ShareExpiry expiry = DriveCore::ShareExpiry::sevenDays;
    Limit limit = Limit::none;
    qint64 customLimit = 3;
    bool usePassword = false;
    QString password; // kept when the toggle goes off, but then not sent

    // "Share “<title>”"
    static QString heading(const QString &pickedTitle);

    bool showsCustomLimit() const { return limit == Limit::custom; }
    bool showsPassword() const { return usePassword; }
    bool showsNeverNote() const { return expiry == DriveCore::ShareExpiry::never; }

    // Something is picked, nothing blocks new links, and a password is typed when one is asked
    // for (spaces count).
    bool canCreate(bool somethingPicked, const std::optional<QString> &blockedReason) const;
    // What "Create Link" hands the model: the custom limit unchecked, the password as typed.
    DriveCore::ShareOptions options() const;
    // A custom limit after `steps` stepper clicks: held to the stepper's range, which also brings
    // a typed number outside it back in.
    static qint64 stepped(qint64 value, int steps);

    // The failure of the last attempt, shown under the options.
    static std::optional<QString> failureText(const DriveCore::SharesModel::CreateState &state);
};
