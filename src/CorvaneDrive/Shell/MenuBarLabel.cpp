#include "CorvaneDrive/Shell/MenuBarLabel.h"

#include "CorvaneDrive/Shell/MenuContent.h"

namespace CorvaneDrive {

using DriveCore::AppModel;
using DriveCore::AppModelPhase;

QString MenuBarLabel::iconName(const QString &menuIcon)
{
    if (menuIcon == QLatin1String("icloud.and.arrow.up"))
        return uploadingIcon;
    if (menuIcon == QLatin1String("icloud.slash"))
        return offlineIcon;
    if (menuIcon == QLatin1String("exclamationmark.icloud"))
        return problemIcon;
    return brandIcon;
}

QString MenuBarLabel::toolTip(const QString &statusLine)
{
    return QStringLiteral("Ovra \u2014 ") + statusLine;
}

MenuBarLabel::MenuBarLabel(AppModel *model, MenuBarPresence *presence, Effects effects, QObject *parent)
    : QObject(parent), m_model(model), m_presence(presence), m_effects(std::move(effects))
{
    m_conflicts = model->conflicts().size();
    for (auto signal : {&AppModel::phaseChanged, &AppModel::statusLineChanged, &AppModel::pendingUploadsChanged,
                        &AppModel::hasUploadProblemChanged})
        connect(model, signal, this, &MenuBarLabel::faceChanged);
}

void MenuBarLabel::start()
{
    if (m_started)
        return;
    m_started = true;
    connect(m_presence, &MenuBarPresence::homeWantedChanged, this, &MenuBarLabel::homeWantedChanged);
    connect(m_model, &AppModel::phaseChanged, this, &MenuBarLabel::phaseChanged);
    connect(m_model, &AppModel::keepAlertChanged, this, &MenuBarLabel::keepAlertChanged);
    connect(m_model, &AppModel::conflictsChanged, this, &MenuBarLabel::conflictsChanged);
    m_conflicts = m_model->conflicts().size();
    homeWantedChanged();
    phaseChanged();
}

QString MenuBarLabel::iconName() const
{
    return m_model ? iconName(m_model->menuIcon()) : brandIcon;
}

QString MenuBarLabel::toolTip() const
{
    return m_model ? toolTip(m_model->statusLine()) : QString();
}

void MenuBarLabel::searchRequested()
{
    if (!m_model || !m_model->settings())
        return;
    m_effects.activate();
    m_effects.openWindow(MenuContent::searchWindow);
}

void MenuBarLabel::homeWantedChanged()
{
    if (!m_presence || !m_presence->homeWanted())
        return;
    m_presence->setHomeWanted(false);
    m_effects.activate();
    m_effects.openWindow(MenuContent::homeWindow);
}

void MenuBarLabel::phaseChanged()
{
    if (!m_model || m_model->phase().kind != AppModelPhase::needsSetup)
        return;
    m_effects.activate();
    m_effects.openWindow(MenuContent::setupWindow);
}

void MenuBarLabel::keepAlertChanged()
{
    if (!m_model || !m_model->keepAlert())
        return;
    const QString text = *m_model->keepAlert();
    m_effects.activate();
    // The alert does not hold the model's signal: the kept list and badges go on refreshing
    // while it shows.
    QPointer<MenuBarLabel> self(this);
    m_effects.showAlert(text, [self] {
        if (self && self->m_model)
            self->m_effects.dismissKeepAlert();
    });
}

void MenuBarLabel::conflictsChanged()
{
    if (!m_model)
        return;
    const qsizetype count = m_model->conflicts().size();
    const bool grew = count > m_conflicts;
    m_conflicts = count;
    if (!grew)
        return;
    m_effects.activate();
    m_effects.openWindow(MenuContent::conflictWindow);
}

} // namespace CorvaneDrive
