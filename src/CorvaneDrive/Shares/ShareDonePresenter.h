#pragma once

#include "DriveCore/shares/ShareLinks.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <optional>

// The finished link: the link ready to copy, its rules and the password reminder.
class ShareDonePresenter {
public:
    static inline const QString title = QStringLiteral("Your link is ready");
    static inline const QString copyLinkTitle = QStringLiteral("Copy Link");
    static inline const QString copiedTitle = QStringLiteral("Copied ✓");
    static inline const QString sharedLinksTitle = QStringLiteral("Shared Links…");
    static inline const QString doneTitle = QStringLiteral("Done");

    static constexpr int linkPadding = 8;
    static constexpr int linkCornerRadius = 6;

    explicit ShareDonePresenter(DriveCore::ShareRecord record) : m_record(std::move(record)) {}

    const DriveCore::ShareRecord &record() const { return m_record; }
    // "“<title>” · " and the link's rules.
    QString summary(const QLocale &locale = QLocale(), const QTimeZone &zone = QTimeZone::systemTimeZone()) const;
    // The link's absolute text, whole.
    QString link() const;
    // "Password: <password> — send it separately, not with the link."; none without a password.
    std::optional<QString> passwordLine() const;

    // "Copy Link" until the link has been copied from this view, then "Copied ✓" for good.
    QString copyTitle() const { return m_copied ? copiedTitle : copyLinkTitle; }
    // Marks the link copied and gives the text to put on the clipboard.
    QString copy();

private:
    DriveCore::ShareRecord m_record;
    bool m_copied = false;
};
