// The settings window's actions that change how the drive runs: start at login, renaming the
// drive, switching the engine and changing the cache size. The last three restart the engine,
// each as one guarded drive change.
#include "DriveCore/model/AppModel.h"

#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/support/AppModelError.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

namespace DriveCore {

namespace {

// White space and line breaks at either end removed (the Unicode White_Space property).
QString trimmed(const QString &name)
{
    const QList<uint> points = name.toUcs4();
    qsizetype first = 0;
    qsizetype last = points.size();
    while (first < last && u_isUWhiteSpace(UChar32(points[first])))
        ++first;
    while (last > first && u_isUWhiteSpace(UChar32(points[last - 1])))
        --last;
    const QList<uint> kept = points.mid(first, last - first);
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(kept.constData()), kept.size());
}

// A name the mount folder can carry: not empty, not "." or "..", at most 255 bytes of UTF-8,
// no "/", ":", control or format characters (categories Cc and Cf).
bool usableName(const QString &name)
{
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral("..") || name.toUtf8().size() > 255)
        return false;
    for (const uint point : name.toUcs4()) {
        const int8_t category = u_charType(UChar32(point));
        if (point == u'/' || point == u':' || category == U_CONTROL_CHAR || category == U_FORMAT_CHAR)
            return false;
    }
    return true;
}

// The name as compared blind to case and accents: decomposed, combining marks (Mn) dropped,
// case folded in full. No locale takes part.
QString folded(const QString &name)
{
    QString bare;
    for (const uint point : name.normalized(QString::NormalizationForm_D).toUcs4()) {
        if (u_charType(UChar32(point)) != U_NON_SPACING_MARK)
            bare.append(QString::fromUcs4(reinterpret_cast<const char32_t *>(&point), 1));
    }
    const std::u16string source(reinterpret_cast<const char16_t *>(bare.utf16()), size_t(bare.size()));
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        u_strFoldCase(nullptr, 0, source.data(), int32_t(source.size()), U_FOLD_CASE_DEFAULT, &status);
    std::u16string fold(size_t(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFoldCase(fold.data(), length, source.data(), int32_t(source.size()), U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status))
        return bare.toCaseFolded();
    return QString::fromUtf16(fold.data(), qsizetype(fold.size())).normalized(QString::NormalizationForm_C);
}

} // namespace

AppModel::DriveChange::DriveChange(AppModel &model) : m_model(&model)
{
    model.assign(model.m_isChangingDrive, true, &AppModel::isChangingDriveChanged);
}

AppModel::DriveChange::~DriveChange()
{
    if (m_model)
        m_model->assign(m_model->m_isChangingDrive, false, &AppModel::isChangingDriveChanged);
}

void AppModel::save(const DriveSettings &settings)
{
    settings.save(*m_defaults);
    assign(m_settings, std::optional(settings), &AppModel::settingsChanged);
}

void AppModel::setStartAtLogin(bool on)
{
    m_hooks.setLoginItem(on);
    if (!m_settings)
        return;
    DriveSettings changed = *m_settings;
    changed.startAtLogin = on;
    save(changed);
}

bool AppModel::enableStartAtLoginAfterSetup()
{
    bool on = true;
    try {
        m_hooks.setLoginItem(true);
    } catch (const std::exception &) {
        m_log.error("Start at login failed: %{public}s",
                    errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
        on = false;
    }
    if (m_settings) {
        DriveSettings changed = *m_settings;
        changed.startAtLogin = on;
        save(changed);
    }
    return on;
}

QCoro::Task<> AppModel::renameDrive(QString name, CancelToken token)
{
    const QString newName = trimmed(name);
    if (!usableName(newName))
        throw AppModelError(badNameText);
    if (!m_settings)
        co_return;
    const DriveSettings old = *m_settings;
    if (newName == old.driveName)
        co_return;
    // Two mount folders whose names differ only so would be one folder to many file managers.
    if (folded(newName) == folded(old.driveName))
        throw AppModelError(sameNameText);
    if (!driveChangeAllowed() || stopping() || !m_online || m_phase.kind != Phase::running)
        throw AppModelError(renameBusyText);

    const DriveChange change(*this);
    const RCClient rc = requireRC();
    const ActionToken cancel(token, lifetime());
    const auto pendingUploads = m_hooks.pendingUploads;
    if (co_await guarded(pendingUploads(rc, cancel.token())) != 0)
        throw AppModelError(renameUploadsText);
    const auto trashStats = m_hooks.trashStats;
    if ((co_await guarded(trashStats(rc, cancel.token()))).pending != 0)
        throw AppModelError(renameUploadsText);
    const auto checkMountDestination = m_hooks.checkMountDestination;
    co_await guarded(checkMountDestination(newName, cancel.token()));
    const std::optional<std::pair<StorageSecrets, QString>> keys = co_await storedKeys();
    // Nothing has changed up to here; from here on the change runs to its end.
    checkCancelled(cancel.token());

    DriveSettings renamed = old;
    renamed.driveName = newName;
    const auto waitForMount = m_hooks.waitForMount;
    // Whether the drive came up under `driveName`: running, mounted, and still running.
    const auto mounted = [this, waitForMount](QString driveName) -> QCoro::Task<bool> {
        if (m_supervisor->state().kind != SupervisorState::running)
            co_return false;
        try {
            co_await guarded(waitForMount(driveName, lifetime()));
        } catch (const std::exception &) {
            co_return false;
        }
        co_return m_supervisor->state().kind == SupervisorState::running;
    };

    stopLoops();
    co_await stopDrive(true);
    assign(m_settings, std::optional(renamed), &AppModel::settingsChanged);
    co_await startDrive(renamed, keys->first, keys->second);
    if (co_await mounted(newName)) {
        // The new name reaches "driveSettings" only now that it works.
        save(renamed);
        startLoops(renamed);
        co_return;
    }

    co_await stopDrive(true);
    assign(m_settings, std::optional(old), &AppModel::settingsChanged);
    co_await startDrive(old, keys->first, keys->second);
    startLoops(old);
    if (co_await mounted(old.driveName)) {
        throw AppModelError(QStringLiteral("The new name couldn't be used. Your drive is still connected as \u201C")
                            + old.driveName + QStringLiteral("\u201D."));
    }
    throw AppModelError(renameFailedOldNameText);
}

QCoro::Task<> AppModel::setDriveEngine(DriveEngine engine)
{
    if (!driveChangeAllowed())
        throw AppModelError(driveChangeBusyText);
    const DriveChange change(*this);
    // Written and restarted even when unchanged: the restart is what the user asked for.
    engine.save(*m_defaults);
    co_await restartDrive();
}

QCoro::Task<> AppModel::changeCache(qint64 gb)
{
    if (!driveChangeAllowed())
        throw AppModelError(driveChangeBusyText);
    const DriveChange change(*this);
    if (!canChangeCache())
        throw AppModelError(lowDiskText);
    const qint64 maximum = maxCacheGB();
    if (gb < minCacheGB || gb > maximum)
        throw AppModelError(QStringLiteral("The cache must be between %1 and %2 GB.").arg(minCacheGB).arg(maximum));
    if (!m_settings)
        co_return;
    DriveSettings changed = *m_settings;
    changed.cacheGB = gb;
    save(changed);
    co_await restartDrive();
}

} // namespace DriveCore
