#include "CorvaneDrive/Settings/SettingsPresenter.h"

#include "DriveCore/engine/AppVersion.h"
#include "DriveCore/support/AppModelError.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>

namespace CorvaneDrive {

using DriveCore::DriveEngine;

QList<SettingsPresenter::Tab> SettingsPresenter::tabs()
{
    return {Tab::general, Tab::kept, Tab::storage};
}

QString SettingsPresenter::rawValue(Tab tab)
{
    switch (tab) {
    case Tab::general:
        return QStringLiteral("General");
    case Tab::kept:
        return QStringLiteral("Kept on This Computer");
    case Tab::storage:
        break;
    }
    return QStringLiteral("Storage & Cache");
}

std::optional<SettingsPresenter::Tab> SettingsPresenter::tab(const QString &rawValue)
{
    for (const Tab tab : tabs())
        if (SettingsPresenter::rawValue(tab) == rawValue)
            return tab;
    return std::nullopt;
}

QString SettingsPresenter::iconName(Tab tab)
{
    switch (tab) {
    case Tab::general:
        return QStringLiteral("preferences-system");
    case Tab::kept:
        return QStringLiteral("drive-harddisk");
    case Tab::storage:
        break;
    }
    return QStringLiteral("network-server");
}

QList<SettingsPresenter::SheetKind> SettingsPresenter::sheetKinds()
{
    return {SheetKind::keys, SheetKind::recoveryKit, SheetKind::signOut, SheetKind::addIPhone, SheetKind::iPhoneSync};
}

QString SettingsPresenter::rawValue(SheetKind kind)
{
    switch (kind) {
    case SheetKind::keys:
        return QStringLiteral("keys");
    case SheetKind::recoveryKit:
        return QStringLiteral("recoveryKit");
    case SheetKind::signOut:
        return QStringLiteral("signOut");
    case SheetKind::addIPhone:
        return QStringLiteral("addIPhone");
    case SheetKind::iPhoneSync:
        break;
    }
    return QStringLiteral("iPhoneSync");
}

std::optional<SettingsPresenter::SheetKind> SettingsPresenter::sheetKind(const QString &rawValue)
{
    for (const SheetKind kind : sheetKinds())
        if (SettingsPresenter::rawValue(kind) == rawValue)
            return kind;
    return std::nullopt;
}

QString SettingsPresenter::failureText(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const DriveCore::AppModelError &modelError) {
        return modelError.message;
    } catch (...) {
        return somethingWentWrongText;
    }
}

QString SettingsPresenter::versionLine(const std::optional<QVariantMap> &info)
{
    return DriveCore::AppVersion::menuLine(info).value_or(appHeader);
}

bool SettingsPresenter::phoneSwitchEnabled(bool available, bool on)
{
    return available || on;
}

QString SettingsPresenter::phoneFooter(bool available)
{
    return available ? phoneAvailableFooter : phoneUnavailableFooter;
}

QList<DriveEngine> SettingsPresenter::engines()
{
    return {DriveEngine::nfs, DriveEngine::fskit};
}

QString SettingsPresenter::engineLabel(DriveEngine engine)
{
    return engine == DriveEngine::nfs ? QStringLiteral("Classic") : QStringLiteral("New (test)");
}

QString SettingsPresenter::installedHelpPage(const QString &name)
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/corvane-drive/help/")
                           + name);
}

SettingsPresenter::CacheRange SettingsPresenter::cacheRange(qint64 maxCacheGB)
{
    const qint64 lower = std::min<qint64>(maxCacheGB, 5);
    // A slider needs two distinct ends; below 5 GB its top goes one past the largest size.
    return {.lower = lower, .upper = maxCacheGB, .top = std::max(lower + 1, maxCacheGB)};
}

QString SettingsPresenter::gigabytes(qint64 gb)
{
    return QStringLiteral("%1 GB").arg(gb);
}

bool SettingsPresenter::canApply(qint64 sliderGB, qint64 settingsGB, bool canChange, bool applying,
                                 const CacheRange &range)
{
    return canChange && sliderGB != settingsGB && !applying && range.contains(sliderGB);
}

SettingsPresenter::UsageLines SettingsPresenter::usageLines(const std::optional<DriveCore::StorageUsage> &usage,
                                                            const std::optional<QString> &error)
{
    if (usage)
        return {UsageLines::figures, {usage->usedText(), usage->costText()}};
    if (error)
        return {UsageLines::failure, {*error}};
    return {UsageLines::waiting, {addingUpText}};
}

SettingsPresenter::CloudflareLines
SettingsPresenter::cloudflareLines(const std::optional<DriveCore::R2MonthUsage> &usage,
                                   const std::optional<QString> &error, bool asked, const QDateTime &now)
{
    using DriveCore::CloudflareBill::amount;
    CloudflareLines lines;
    if (usage) {
        const DriveCore::BillingMonth month(now);
        const DriveCore::R2Bill whole = usage->forecast(month);
        lines.kind = CloudflareLines::figures;
        lines.soFarLabel = QStringLiteral("So far in %1").arg(month.name);
        lines.soFar = amount(usage->billSoFar().total());
        lines.wholeLabel = QStringLiteral("Likely for all of %1").arg(month.name);
        lines.whole = QStringLiteral("about ") + amount(whole.total());
        lines.text = QStringLiteral("Storage %1 · Uploads and listings %2 · Downloads %3")
                         .arg(amount(whole.storage), amount(whole.classA), amount(whole.classB));
    } else if (error) {
        lines.kind = CloudflareLines::failure;
        lines.text = *error;
    } else if (!asked) {
        lines.kind = CloudflareLines::asking;
        lines.text = askingCloudflareText;
    } else {
        lines.kind = CloudflareLines::noKey;
        lines.text = DriveCore::CloudflareBill::noKeyText;
    }
    return lines;
}

} // namespace CorvaneDrive
