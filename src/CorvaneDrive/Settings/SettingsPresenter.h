#pragma once

#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/services/CloudflareBill.h"
#include "DriveCore/services/StorageUsage.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <exception>
#include <optional>

namespace CorvaneDrive {

// What the settings window shows around its tabs and on its General and Storage & Cache tabs:
// the tabs and sheets by name, the texts, the window's sizes and the rules of the tabs' controls.
// Toolkit-free; the window renders it.
class SettingsPresenter {
public:
    enum class Tab { general, kept, storage };
    enum class SheetKind { keys, recoveryKit, signOut, addIPhone, iPhoneSync };

    // The tabs in their order on screen.
    static QList<Tab> tabs();
    // The tab's label, which is also its name.
    static QString rawValue(Tab tab);
    static std::optional<Tab> tab(const QString &rawValue);
    // The freedesktop icon name of the tab's segment.
    static QString iconName(Tab tab);

    static QList<SheetKind> sheetKinds();
    static QString rawValue(SheetKind kind);
    static std::optional<SheetKind> sheetKind(const QString &rawValue);

    // The window.
    static inline const QString windowTitle = QStringLiteral("Ovra Settings");
    static inline const QString notSetUpText = QStringLiteral("Set up Ovra first.");
    static inline const QString cancelTitle = QStringLiteral("Cancel");
    static inline const QString somethingWentWrongText = QStringLiteral("Something went wrong. Try again in a moment.");
    static constexpr int notSetUpWidth = 460;
    static constexpr int notSetUpHeight = 160;
    static constexpr int width = 700;
    static constexpr int height = 660;
    static constexpr int segmentsMarginX = 20;
    static constexpr int segmentsMarginY = 12;

    // The text a failed action shows: the message of the model's error, else the fixed text.
    static QString failureText(const std::exception_ptr &error);

    // --- General ---
    static inline const QString appHeader = QStringLiteral("Ovra");
    static inline const QString versionLabel = QStringLiteral("Version");
    static inline const QString driveLabel = QStringLiteral("File manager drive");
    static inline const QString startupHeader = QStringLiteral("Startup");
    static inline const QString startAtLoginTitle = QStringLiteral("Start at login");
    static inline const QString addOnHeader = QStringLiteral("Files add-on");
    static inline const QString addOnFooter =
        QStringLiteral("Install Ovra's add-on for GNOME Files to keep files and folders from its right-click menu.");
    static inline const QString addOnButton = QStringLiteral("Turn on Keep on This Computer in Files…");
    static inline const QString phoneHeader = QStringLiteral("iPhone");
    static inline const QString phoneAvailableFooter =
        QStringLiteral("With the switch on, the Ovra iPhone app finds this drive by itself on iPhones signed in to "
                       "your Apple ID. Your "
                       "files and keys stay end-to-end encrypted.");
    static inline const QString phoneUnavailableFooter = QStringLiteral(
        "The iCloud Keychain option is not available in this version. \"Add an iPhone…\" works without it.");
    static inline const QString addPhoneButton = QStringLiteral("Add an iPhone…");
    static inline const QString phoneSwitchTitle =
        QStringLiteral("Use my drive on my iPhone (through iCloud Keychain)");
    static inline const QString engineHeader = QStringLiteral("Drive engine");
    static inline const QString engineFooter =
        QStringLiteral("Same files and cache either way. Changing it reconnects the drive.");
    static inline const QString signOutButton = QStringLiteral("Sign Out of This Computer…");
    // The help page that "Turn on Keep on This Computer in Files…" opens.
    static inline const QString addOnHelpPageName = QStringLiteral("file-manager-plug-in.html");

    // "Ovra <version>" from the information list, or "Ovra" without one.
    static QString versionLine(const std::optional<QVariantMap> &info);
    // The phone switch can be turned on only where sync is available; once on, it can always be
    // turned off.
    static bool phoneSwitchEnabled(bool available, bool on);
    static QString phoneFooter(bool available);
    // The engine picker's options in order, with their labels.
    static QList<DriveCore::DriveEngine> engines();
    static QString engineLabel(DriveCore::DriveEngine engine);
    // The help page installed beside the program (<prefix>/share/corvane-drive/help).
    static QString installedHelpPage(const QString &name);

    // --- Storage & Cache ---
    static inline const QString storageHeader = QStringLiteral("Storage");
    static inline const QString addingUpText = QStringLiteral("Adding up your files…");
    static inline const QString changeKeysButton = QStringLiteral("Change storage keys…");
    static inline const QString refreshButton = QStringLiteral("Refresh");
    static inline const QString cloudflareHeader = QStringLiteral("Cloudflare this month");
    static inline const QString askingCloudflareText = QStringLiteral("Asking Cloudflare…");
    static inline const QString cacheHeader = QStringLiteral("Cache");
    static inline const QString cacheFooter =
        QStringLiteral("Files you open are kept on this computer up to this size, oldest cleared first.");
    static inline const QString cacheSliderLabel = QStringLiteral("Cache size");
    static inline const QString applyButton = QStringLiteral("Apply");
    static inline const QString recoveryHeader = QStringLiteral("Recovery");
    static inline const QString recoveryKitButton = QStringLiteral("Show Recovery Kit…");

    // The cache slider: the values it runs over and the labels at its ends.
    struct CacheRange {
        qint64 lower = 0; // also the left label
        qint64 upper = 0; // the right label
        qint64 top = 0; // the slider's largest value: never equal to lower

        // Whether there is a size to choose; without, the slider takes no input.
        bool choosable() const { return upper > lower; }
        bool contains(qint64 gb) const { return gb >= lower && gb <= upper; }
        bool operator==(const CacheRange &) const = default;
    };
    static CacheRange cacheRange(qint64 maxCacheGB);
    // "<gb> GB"
    static QString gigabytes(qint64 gb);
    // Apply changes the cache when the model may, the slider moved off the stored size to one
    // inside the range and no change runs.
    static bool canApply(qint64 sliderGB, qint64 settingsGB, bool canChange, bool applying, const CacheRange &range);

    // The Storage section's first lines: the figures, else the failure, else the wait.
    struct UsageLines {
        enum Kind { figures, failure, waiting };
        Kind kind = waiting;
        QStringList lines;

        bool operator==(const UsageLines &) const = default;
    };
    static UsageLines usageLines(const std::optional<DriveCore::StorageUsage> &usage,
                                 const std::optional<QString> &error);

    // The Cloudflare section: the month's bill so far and its forecast, else the failure, else
    // the wait for the first answer, else the note that no token is kept.
    struct CloudflareLines {
        enum Kind { figures, failure, asking, noKey };
        Kind kind = asking;
        QString soFarLabel;
        QString soFar;
        QString wholeLabel;
        QString whole;
        QString text; // the breakdown of the forecast, the failure or the note

        bool operator==(const CloudflareLines &) const = default;
    };
    static CloudflareLines cloudflareLines(const std::optional<DriveCore::R2MonthUsage> &usage,
                                           const std::optional<QString> &error, bool asked, const QDateTime &now);
};

} // namespace CorvaneDrive
