#pragma once

#include "DriveCore/shares/SharesModel.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <optional>

// One link of the Shared Links list: what was shared, its rules, when and where it was made,
// whether it still works, and which buttons it offers. The password is never shown, only copied.
class LinkRowPresenter {
public:
    static inline const QString checkingText = QStringLiteral("Checking…");
    static inline const QString endedText = QStringLiteral("Ended (expired, used up or stopped)");
    static inline const QString unknownText = QStringLiteral("Couldn't check right now");
    static inline const QString copyLinkTitle = QStringLiteral("Copy Link");
    static inline const QString copiedTitle = QStringLiteral("Copied ✓");
    static inline const QString copyPasswordTitle = QStringLiteral("Copy Password");
    static inline const QString stopTitle = QStringLiteral("Stop Sharing");
    static inline const QString removeTitle = QStringLiteral("Remove");

    static constexpr int spacing = 12; // between the row's parts
    static constexpr int margin = 6; // above and below
    static constexpr int lineSpacing = 3; // between the text lines
    static constexpr int buttonSpacing = 6; // between the buttons

    struct StatusLine {
        enum Style { secondary, green };
        QString text;
        Style style = secondary;
        bool operator==(const StatusLine &) const = default;
    };

    explicit LinkRowPresenter(DriveCore::SharesModel::Row row) : m_row(std::move(row)) {}

    const DriveCore::SharesModel::Row &row() const { return m_row; }
    // A new status (or record) for the same link; the row keeps its own state.
    void setRow(DriveCore::SharesModel::Row row) { m_row = std::move(row); }

    // "<n> files · <size> · <rules>"
    QString infoLine(const QLocale &locale = QLocale(), const QTimeZone &zone = QTimeZone::systemTimeZone()) const;
    // "Made <date> on <machine>"
    QString madeLine(const QLocale &locale = QLocale(), const QTimeZone &zone = QTimeZone::systemTimeZone()) const;
    StatusLine statusLine() const;

    bool isEnded() const;
    bool showsCopyLink() const { return !isEnded(); }
    bool showsCopyPassword() const { return !isEnded() && m_row.record.password.has_value(); }
    QString stopButtonTitle() const { return isEnded() ? removeTitle : stopTitle; }
    QString copyTitle() const { return m_copied ? copiedTitle : copyLinkTitle; }

    // Marks the link copied and gives the link's absolute text.
    QString copyLink();
    // The password as typed, for the clipboard.
    QString password() const { return m_row.record.password.value_or(QString()); }

    // "1 file", else the number and " files" (also for 0).
    static QString files(qint64 count);

private:
    DriveCore::SharesModel::Row m_row;
    bool m_copied = false;
};
