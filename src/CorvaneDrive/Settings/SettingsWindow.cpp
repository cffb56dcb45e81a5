#include "CorvaneDrive/Settings/SettingsWindow.h"

#include "CorvaneDrive/Settings/ChangeKeysSheet.h"
#include "CorvaneDrive/Settings/GeneralTab.h"
#include "CorvaneDrive/Settings/KeptFilesSettings.h"
#include "CorvaneDrive/Settings/PhoneSheets.h"
#include "CorvaneDrive/Settings/RecoveryKitSheet.h"
#include "CorvaneDrive/Settings/SignOutSheet.h"
#include "CorvaneDrive/Settings/StorageTab.h"
#include "CorvaneDrive/UiStyle.h"
#include "DriveCore/model/AppModel.h"
#include "DriveCore/model/AppModelIPhone.h"

#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

namespace CorvaneDrive {

using DriveCore::AppModel;

SettingsWindow::SettingsWindow(AppModel &model, SettingsContext context, QWidget *parent)
    : QWidget(parent), m_model(&model), m_context(std::move(context)), m_faces(new QStackedWidget(this)),
      m_notSetUp(new QLabel(SettingsPresenter::notSetUpText)), m_main(new QWidget), m_tabBar(new QTabBar(m_main)),
      m_tabs(new QStackedWidget(m_main))
{
    auto *frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->addWidget(m_faces);

    m_notSetUp->setAlignment(Qt::AlignCenter);
    UiStyle::secondary(m_notSetUp);
    m_faces->addWidget(m_notSetUp);

    auto *column = new QVBoxLayout(m_main);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *segments = new QHBoxLayout;
    segments->setContentsMargins(SettingsPresenter::segmentsMarginX, SettingsPresenter::segmentsMarginY,
                                 SettingsPresenter::segmentsMarginX, SettingsPresenter::segmentsMarginY);
    m_tabBar->setExpanding(false);
    m_tabBar->setDrawBase(false);
    m_tabBar->setAccessibleName(QStringLiteral("Section"));
    for (const Tab each : SettingsPresenter::tabs())
        // "&" would mark a shortcut letter; doubled it shows as itself.
        m_tabBar->addTab(UiStyle::icon(SettingsPresenter::iconName(each)),
                         SettingsPresenter::rawValue(each).replace(u'&', QStringLiteral("&&")));
    segments->addStretch(1);
    segments->addWidget(m_tabBar);
    segments->addStretch(1);
    column->addLayout(segments);
    auto *divider = new QFrame(m_main);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider);
    column->addWidget(m_tabs, 1);
    m_general = new GeneralTab(*this, m_tabs);
    m_kept = new KeptFilesSettings(model, m_context, m_tabs);
    m_storage = new StorageTab(*this, m_tabs);
    m_tabs->addWidget(m_general);
    m_tabs->addWidget(m_kept);
    m_tabs->addWidget(m_storage);
    m_faces->addWidget(m_main);

    connect(m_tabBar, &QTabBar::currentChanged, this, [this](int index) {
        if (index >= 0 && index < SettingsPresenter::tabs().size())
            setTab(SettingsPresenter::tabs().at(index));
    });
    // Escape and Ctrl+W close the window (the sheets have their own Escape); Ctrl+Tab and
    // Ctrl+Shift+Tab go through the tabs as in any tabbed window.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    auto *closeKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
    auto *nextTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    auto *previousTab = new QShortcut(this);
    previousTab->setKeys(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)});
    const auto step = [this](int by) {
        if (!m_model || !m_model->settings())
            return;
        const QList<Tab> all = SettingsPresenter::tabs();
        const qsizetype count = all.size();
        setTab(all.at((all.indexOf(m_tab) + by + count) % count));
    };
    connect(nextTab, &QShortcut::activated, this, [step] { step(1); });
    connect(previousTab, &QShortcut::activated, this, [step] { step(-1); });

    connect(&model, &AppModel::settingsChanged, this, &SettingsWindow::render);
    connect(&model, &AppModel::isChangingDriveChanged, this, &SettingsWindow::render);
    connect(this, &SettingsWindow::changed, this, &SettingsWindow::render);
    render();
}

SettingsWindow::~SettingsWindow()
{
    if (m_appeared && m_model)
        m_model->windowClosed();
}

void SettingsWindow::setTab(Tab tab)
{
    if (tab == m_tab)
        return;
    m_tab = tab;
    emit changed();
}

void SettingsWindow::setCacheGB(qint64 gb)
{
    if (gb == m_cacheGB)
        return;
    m_cacheGB = gb;
    emit changed();
}

void SettingsWindow::setError(std::optional<QString> error)
{
    if (error == m_error)
        return;
    m_error = std::move(error);
    emit changed();
}

void SettingsWindow::setSheet(std::optional<SheetKind> kind)
{
    if (m_sheetDialog) {
        // Closing it comes back here with none.
        QDialog *shown = m_sheetDialog;
        m_sheetDialog.clear();
        shown->disconnect(this);
        shown->reject();
        shown->deleteLater();
    }
    m_sheet = kind;
    if (kind && m_model) {
        QDialog *sheet = makeSheet(*kind);
        m_sheetDialog = sheet;
        connect(sheet, &QDialog::finished, this, [this, sheet] {
            sheet->deleteLater();
            if (m_sheetDialog == sheet) {
                m_sheetDialog.clear();
                m_sheet.reset();
                emit changed();
            }
        });
        sheet->open();
    }
    emit changed();
}

QDialog *SettingsWindow::makeSheet(SheetKind kind)
{
    switch (kind) {
    case SheetKind::keys:
        return new ChangeKeysSheet(*m_model, m_context.send, this);
    case SheetKind::recoveryKit:
        return new RecoveryKitSheet(*m_model, this);
    case SheetKind::signOut:
        return new SignOutSheet(*m_model, this);
    case SheetKind::addIPhone:
        return new AddIPhoneSheet(*m_model, this);
    case SheetKind::iPhoneSync:
        break;
    }
    return new IPhoneSyncSheet(*m_model, this);
}

void SettingsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous() && !m_placed) {
        // Centred the first time; afterwards it opens where the user left it.
        m_placed = true;
        QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen)
            screen = this->screen();
        if (screen) {
            // On a screen smaller than the window, its title bar stays on the screen.
            const QRect area = screen->availableGeometry();
            QRect frame = frameGeometry();
            frame.moveCenter(area.center());
            move(std::max(frame.left(), area.left()), std::max(frame.top(), area.top()));
        }
    }
    if (event->spontaneous() || m_appeared || !m_model)
        return;
    m_appeared = true;
    load();
    m_model->windowOpened();
}

void SettingsWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous() || !m_appeared)
        return;
    m_appeared = false;
    if (m_model)
        m_model->windowClosed();
}

void SettingsWindow::load()
{
    const std::optional<DriveCore::DriveSettings> &settings = m_model->settings();
    if (!settings)
        return;
    m_cacheGB = settings->cacheGB;
    m_startAtLogin = settings->startAtLogin;
    emit changed();
    // Not awaited, and not stopped when the window goes: it runs to its end.
    loadUsage();
}

void SettingsWindow::render()
{
    const bool setUp = m_model && m_model->settings();
    // The title stays when the drive goes (after a sign-out): the window is still the settings.
    setWindowTitle(SettingsPresenter::windowTitle);
    if (setUp) {
        m_faces->setCurrentWidget(m_main);
        setFixedSize(SettingsPresenter::width, SettingsPresenter::height);
    } else {
        m_faces->setCurrentWidget(m_notSetUp);
        setFixedSize(SettingsPresenter::notSetUpWidth, SettingsPresenter::notSetUpHeight);
    }
    const int index = int(SettingsPresenter::tabs().indexOf(m_tab));
    if (m_tabBar->currentIndex() != index)
        m_tabBar->setCurrentIndex(index);
    m_tabs->setCurrentIndex(index);
    // The segments stay usable through a drive change; the forms wait for it.
    const bool changing = m_model && m_model->isChangingDrive();
    m_general->setEnabled(!changing);
    m_storage->setEnabled(!changing);
    m_general->render();
    m_storage->render();
}

void SettingsWindow::setStartAtLogin(bool on)
{
    if (!m_model)
        return;
    try {
        m_model->setStartAtLogin(on);
    } catch (const std::exception &) {
        // One text for every failure; the switch springs back.
        setError(AppModel::startAtLoginFailedText);
        emit changed();
        return;
    }
    m_startAtLogin = on;
    m_error.reset();
    emit changed();
}

QCoro::Task<> SettingsWindow::turnOffIPhoneSync()
{
    const QPointer<SettingsWindow> self(this);
    const QPointer<AppModel> model = m_model;
    std::exception_ptr failure;
    try {
        if (model)
            co_await model->iPhone().setIPhoneSync(false, std::nullopt);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    self->setError(failure ? std::optional(SettingsPresenter::failureText(failure)) : std::nullopt);
    // The switch goes on showing the model's value.
    emit self->changed();
}

QCoro::Task<> SettingsWindow::changeEngine(DriveCore::DriveEngine engine)
{
    const QPointer<SettingsWindow> self(this);
    const QPointer<AppModel> model = m_model;
    if (!model || model->driveEngineSetting() == engine)
        co_return;
    std::exception_ptr failure;
    try {
        co_await model->setDriveEngine(engine);
    } catch (...) {
        failure = std::current_exception();
    }
    if (self)
        self->setError(failure ? std::optional(SettingsPresenter::failureText(failure)) : std::nullopt);
}

void SettingsWindow::openAddOnHelp()
{
    raise();
    activateWindow();
    m_context.openUrl(m_context.addOnHelp);
}

QCoro::Task<> SettingsWindow::loadUsage()
{
    const QPointer<SettingsWindow> self(this);
    if (m_measuringUsage || !m_model)
        co_return;
    const QPointer<AppModel> model = m_model;
    m_measuringUsage = true;
    emit changed();
    // Cloudflare is asked at the same time as the engine measures the bucket.
    QCoro::Task<> cloudflare = loadCloudflare(self);
    std::optional<DriveCore::StorageUsage> usage;
    std::exception_ptr failure;
    try {
        if (!model)
            throw DriveCore::OwnerGone();
        usage = co_await model->loadStorageUsage();
    } catch (...) {
        failure = std::current_exception();
    }
    if (self) {
        self->m_usage = usage;
        self->m_usageError = failure ? std::optional(SettingsPresenter::failureText(failure)) : std::nullopt;
        emit self->changed();
    }
    co_await cloudflare;
    if (self) {
        self->m_measuringUsage = false;
        emit self->changed();
    }
}

QCoro::Task<> SettingsWindow::loadCloudflare(QPointer<SettingsWindow> self)
{
    const QPointer<AppModel> model = self->m_model;
    const DriveCore::HTTPSend send = self->m_context.send;
    std::optional<DriveCore::R2MonthUsage> usage;
    std::exception_ptr failure;
    try {
        if (!model)
            throw DriveCore::OwnerGone();
        usage = co_await model->loadCloudflareUsage(send);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    self->m_cloudflare = usage;
    self->m_cloudflareError = failure ? std::optional(SettingsPresenter::failureText(failure)) : std::nullopt;
    self->m_cloudflareAsked = true;
    emit self->changed();
}

QCoro::Task<> SettingsWindow::applyCache()
{
    const QPointer<SettingsWindow> self(this);
    const QPointer<AppModel> model = m_model;
    if (!model)
        co_return;
    m_applyingCache = true;
    emit changed();
    std::exception_ptr failure;
    try {
        co_await model->changeCache(m_cacheGB);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    self->m_applyingCache = false;
    self->m_error = failure ? std::optional(SettingsPresenter::failureText(failure)) : std::nullopt;
    emit self->changed();
}

} // namespace CorvaneDrive
