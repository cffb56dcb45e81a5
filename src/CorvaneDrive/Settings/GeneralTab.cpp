#include "CorvaneDrive/Settings/GeneralTab.h"

#include "CorvaneDrive/Binding.h"
#include "CorvaneDrive/Settings/SettingsWindow.h"
#include "CorvaneDrive/UiStyle.h"
#include "DriveCore/model/AppModel.h"
#include "DriveCore/model/AppModelIPhone.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>

namespace CorvaneDrive {

using P = SettingsPresenter;

GeneralTab::GeneralTab(SettingsWindow &window, QWidget *parent)
    : SettingsForm(parent), m_window(window), m_version(new QLabel), m_drive(new QLabel),
      m_startAtLogin(new QCheckBox(P::startAtLoginTitle)), m_addOn(new QPushButton(P::addOnButton)),
      m_addPhone(new QPushButton(P::addPhoneButton)), m_phoneSwitch(new QCheckBox(P::phoneSwitchTitle)),
      m_engine(new QComboBox), m_signOut(new QPushButton(P::signOutButton))
{
    QFormLayout *app = addSection(P::appHeader);
    UiStyle::selectable(m_version);
    UiStyle::selectable(m_drive);
    app->addRow(P::versionLabel, m_version);
    app->addRow(P::driveLabel, m_drive);

    addSection(P::startupHeader)->addRow(m_startAtLogin);

    addSection(P::addOnHeader, P::addOnFooter)->addRow(m_addOn);
    m_addOn->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);

    QFormLayout *phone = addSection(P::phoneHeader, P::phoneFooter(false), &m_phoneFooter);
    m_addPhone->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    phone->addRow(m_addPhone);
    phone->addRow(m_phoneSwitch);

    QFormLayout *engine = addSection(P::engineHeader, P::engineFooter, nullptr, &m_engineSection);
    for (const DriveCore::DriveEngine each : P::engines())
        m_engine->addItem(P::engineLabel(each));
    m_engine->setAccessibleName(P::engineHeader);
    engine->addRow(P::engineHeader, m_engine);

    m_signOut->setIcon(UiStyle::icon(QStringLiteral("system-log-out")));
    m_signOut->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    addSection(QString())->addRow(m_signOut);

    // The switches do not move by themselves: they show the window's and the model's values
    // again once the action has run.
    connect(m_startAtLogin, &QCheckBox::clicked, this, [this](bool on) { m_window.setStartAtLogin(on); });
    connect(m_phoneSwitch, &QCheckBox::clicked, this, [this](bool on) {
        if (on)
            m_window.setSheet(P::SheetKind::iPhoneSync);
        else
            m_window.turnOffIPhoneSync();
        render();
    });
    connect(m_engine, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < P::engines().size())
            m_window.changeEngine(P::engines().at(index));
        render();
    });
    connect(m_addOn, &QPushButton::clicked, this, [this] { m_window.openAddOnHelp(); });
    connect(m_addPhone, &QPushButton::clicked, this, [this] { m_window.setSheet(P::SheetKind::addIPhone); });
    connect(m_signOut, &QPushButton::clicked, this, [this] { m_window.setSheet(P::SheetKind::signOut); });
    connect(&window.model(), &DriveCore::AppModel::iPhoneSyncOnChanged, this, &GeneralTab::render);
    render();
}

void GeneralTab::render()
{
    const DriveCore::AppModel &model = m_window.model();
    m_version->setText(P::versionLine(m_window.context().info));
    m_drive->setText(model.settings() ? model.settings()->driveName : QString());
    Binding::show(m_startAtLogin, m_window.startAtLogin());
    const bool available = model.iPhone().iPhoneSyncAvailable();
    const bool on = model.iPhoneSyncOn();
    Binding::show(m_phoneSwitch, on);
    m_phoneSwitch->setEnabled(P::phoneSwitchEnabled(available, on));
    m_phoneFooter->setText(P::phoneFooter(available));
    m_engineSection->setVisible(model.showsEngineChoice());
    const int engine = int(P::engines().indexOf(model.driveEngineSetting()));
    if (m_engine->currentIndex() != engine)
        m_engine->setCurrentIndex(engine);
    showError(m_window.error());
}

} // namespace CorvaneDrive
