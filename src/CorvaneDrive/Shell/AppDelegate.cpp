#include "CorvaneDrive/Shell/AppDelegate.h"

#include "CorvaneDrive/Settings/SettingsWindow.h"
#include "CorvaneDrive/Setup/SetupWindow.h"
#include "CorvaneDrive/Shares/SharedLinksWindow.h"
#include "CorvaneDrive/Shares/ShareFilesPanel.h"
#include "CorvaneDrive/Shares/ShareWindow.h"
#include "CorvaneDrive/Shell/AppResources.h"
#include "CorvaneDrive/Shell/HomeWindow.h"
#include "CorvaneDrive/Shell/TrayIcon.h"
#include "CorvaneDrive/Windows/ConflictWindow.h"
#include "CorvaneDrive/Windows/CopyAllWindow.h"
#include "CorvaneDrive/Windows/RecentlyDeletedWindow.h"
#include "CorvaneDrive/Windows/SearchShortcut.h"
#include "CorvaneDrive/Windows/SearchWindow.h"
#include "CorvaneDrive/Windows/UploadsWindow.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/platform/AppInfo.h"
#include "DriveCore/platform/FileManager.h"
#include "DriveCore/platform/HTTPSend.h"
#include "DriveCore/platform/PowerOffWatch.h"
#include "DriveCore/platform/StatusNotifierWatch.h"
#include "DriveCore/platform/TerminationSignals.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/SharesModel.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Log.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <limits>

namespace CorvaneDrive {

using namespace DriveCore;
using MenuContent::Action;

namespace {

const Log &log()
{
    static const Log log("app");
    return log;
}

void activateApplication()
{
    // No window of ours may be up; the one that opens next takes the focus itself.
    if (QWidget *window = QApplication::activeWindow())
        window->raise();
}

void showFolderLive(QDBusConnection bus, const QString &folder)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowFolders"));
    call << QStringList{QUrl::fromLocalFile(folder).toString()} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [folder](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        if (!finished->isError())
            return;
        // No file manager on the bus: the desktop's default opener (xdg-open).
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
            log().error("The drive's folder couldn't be opened in a file manager");
    });
}

// The model's coroutines for callers that may outlive it: the arguments live in the frame, and a
// model gone meanwhile is not touched.
QCoro::Task<> handleKeepRequest(QPointer<AppModel> model, KeepShared::KeepRequest request)
{
    if (model)
        co_await model->handle(std::move(request));
}

QCoro::Task<> refreshOf(QPointer<AppModel> model)
{
    if (model)
        co_await model->refresh();
}

QCoro::Task<ShareContext> shareContextOf(QPointer<AppModel> model)
{
    if (!model)
        throw AppModelError(AppModel::shareNotConnectedText);
    co_return co_await model->shareContext();
}

QCoro::Task<> keepCloudflareKeyIn(QPointer<AppModel> model, QString token)
{
    if (model)
        co_await model->keepCloudflareKey(std::move(token));
}

void alertLive(QMessageBox::Icon icon, const QString &text, const QString &detail)
{
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Ovra"));
    box.setIcon(icon);
    box.setText(text);
    box.setInformativeText(detail);
    box.exec();
}

} // namespace

bool AppDelegate::updatesConfigured(const QVariantMap &info)
{
    const QVariant key = info.value(QStringLiteral("SUPublicEDKey"));
    if (key.metaType() != QMetaType::fromType<QString>())
        return false;
    const QString text = key.toString();
    return !text.isEmpty() && !text.startsWith(QLatin1String("REPLACE_"));
}

qint64 AppDelegate::appBuild(const QVariantMap &info)
{
    const QVariant value = info.value(QStringLiteral("CFBundleVersion"));
    if (value.metaType() != QMetaType::fromType<QString>())
        return 0;
    const QString text = value.toString();
    // One optional sign, then nothing but digits.
    const bool signed_ = text.startsWith(u'+') || text.startsWith(u'-');
    const QStringView digits = QStringView(text).mid(signed_ ? 1 : 0);
    if (digits.isEmpty())
        return 0;
    for (const QChar c : digits)
        if (c < u'0' || c > u'9')
            return 0;
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    if (!ok)
        return 0;
    return text.startsWith(u'-') ? -number : number;
}

AppDelegate::AppDelegate(std::unique_ptr<AppModel> model, QDBusConnection sessionBus, QDBusConnection systemBus,
                         QObject *parent)
    : QObject(parent), m_model(std::move(model)), m_sessionBus(std::move(sessionBus)),
      m_systemBus(std::move(systemBus)), m_menuBar(new MenuBarPresence(this)), m_windows(new WindowRegistry(this))
{
    m_desktop = {
        .activate = activateApplication,
        .showFolder = [bus = m_sessionBus](const QString &folder) { showFolderLive(bus, folder); },
        .openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); },
        .confirmQuitWhileUploading = nullptr, // the delegate's own question, below
        .alert = [](const QString &text, const QString &detail) { alertLive(QMessageBox::Warning, text, detail); },
        .inform = [](const QString &text, const QString &detail) { alertLive(QMessageBox::Information, text, detail); },
    };
    m_feed = new MenuFeed(m_model.get(), [this](Action action) { perform(action); }, this);
    QPointer<AppModel> weak(m_model.get());
    m_label = new MenuBarLabel(
        m_model.get(), m_menuBar,
        {
            .activate = [this] { m_desktop.activate(); },
            .openWindow = [this](const QString &identifier) { openWindow(identifier); },
            .showAlert = [this](const QString &text,
                                std::function<void()> closed) { showKeepAlert(text, std::move(closed)); },
            .dismissKeepAlert =
                [weak] {
                    if (weak)
                        weak->dismissKeepAlert();
                },
        },
        this);
    m_tray = new TrayIcon(m_label, m_feed, this);
    m_listener = new FinderAddOnListener(
        {
            .handle = [weak](KeepShared::KeepRequest request) { return handleKeepRequest(weak, std::move(request)); },
            .saidHello =
                [weak] {
                    if (weak)
                        weak->keepAddOnSaidHello();
                },
            .refresh = [weak] { return refreshOf(weak); },
        },
        std::chrono::steady_clock::now, this);
    m_trayWatch = new StatusNotifierWatch(m_sessionBus, this);
    m_powerOff = new PowerOffWatch(m_systemBus, this);
    registerWindows();
}

AppDelegate::~AppDelegate()
{
    // Windows hold the model; they go first.
    delete m_windows;
    m_windows = nullptr;
}

void AppDelegate::revealInFileManager(const QList<QUrl> &items)
{
    QPointer<AppDelegate> self(this);
    FileManager::showItems(items, m_sessionBus, [self, items] {
        if (self)
            self->m_desktop.openUrl(SearchPresenter::folderOf(items));
    });
}

void AppDelegate::registerWindows()
{
    AppModel &model = *m_model;
    const auto opened = [&model] { model.windowOpened(); };
    const auto closed = [&model] { model.windowClosed(); };
    m_windows->add(MenuContent::homeWindow, [this] { return new HomeWindow(m_feed); });
    m_windows->add(MenuContent::searchWindow, [this, &model] {
        SearchContext context = SearchContext::live(model);
        context.reveal = [this](const QList<QUrl> &items) { revealInFileManager(items); };
        context.open = [this](const QUrl &item) { m_desktop.openUrl(item); };
        return new SearchWindow(std::move(context));
    });
    m_windows->add(MenuContent::uploadsWindow, [&model] { return new UploadsWindow(model); });
    m_windows->add(MenuContent::recentlyDeletedWindow, [&model] { return new RecentlyDeletedWindow(model); });
    m_windows->add(MenuContent::conflictWindow, [&model] { return new ConflictWindow(model); });
    m_windows->add(MenuContent::copyAllWindow, [&model] { return new CopyAllWindow(model); });
    m_windows->add(MenuContent::shareWindow, [this, &model, opened, closed] {
        auto *window = new ShareWindow(shares(),
                                       {
                                           .windowOpened = opened,
                                           .windowClosed = closed,
                                           .openList =
                                               [this] {
                                                   m_desktop.activate();
                                                   openWindow(MenuContent::sharedLinksWindow);
                                               },
                                       });
        // The form reads the drive's state (whether sharing is blocked) from the app model.
        for (const auto signal : {&AppModel::phaseChanged, &AppModel::settingsChanged, &AppModel::isEjectedChanged})
            connect(&model, signal, window, &ShareWindow::render);
        return window;
    });
    m_windows->add(MenuContent::sharedLinksWindow, [this, opened, closed] {
        return new SharedLinksWindow(shares(), {.windowOpened = opened, .windowClosed = closed});
    });
    m_windows->add(MenuContent::setupWindow, [this] {
        QPointer<AppModel> model(m_model.get());
        SetupContext context;
        context.makeSetupState = [model] { return model->makeSetupState(); };
        context.settingsDriveName = [model]() -> std::optional<QString> {
            if (!model || !model->settings())
                return std::nullopt;
            return model->settings()->driveName;
        };
        context.mountPath = [model] { return model ? model->mountPath() : std::nullopt; };
        context.trayShown = [this] { return m_tray->isShown(); };
        context.openUrl = [this](const QUrl &url) { m_desktop.openUrl(url); };
        context.fileSystemHelp = QUrl::fromLocalFile(AppResources::fileSystemHelpPage());
        return new SetupWindow(std::move(context));
    });
    m_windows->add(MenuContent::settingsWindow, [this, &model] {
        SettingsContext context;
        context.openUrl = [this](const QUrl &url) { m_desktop.openUrl(url); };
        context.reveal = [this](const QList<QUrl> &items) { revealInFileManager(items); };
        context.addOnHelp = QUrl::fromLocalFile(AppResources::addOnHelpPage());
        return new SettingsWindow(model, std::move(context));
    });
}

SharesModel &AppDelegate::shares()
{
    if (m_shares)
        return *m_shares;
    QPointer<AppModel> model(m_model.get());
    m_shares = new SharesModel(
        {
            .context = [model] { return shareContextOf(model); },
            .blocked = [model]() -> std::optional<QString> {
                return model ? model->shareBlockedReason() : std::optional(AppModel::shareNotConnectedText);
            },
            .appBuild = appBuild(AppInfo::dictionary()),
            .send = [](HTTPRequest request, CancelToken token) { return liveHTTPSend(std::move(request), token); },
            // The folder is looked up afresh at every call.
            .modules = [] { return SharesModel::modulesIn(AppResources::shareWorkerFolder())(); },
            .passwordRounds = ShareFormat::passwordRounds,
            .now = [] { return QDateTime::currentDateTimeUtc(); },
            .metaFs = QStringLiteral("drivecrypt:") + QString::fromLatin1(DriveLayout::metaFolder),
            .keepKey = [model](QString token) { return keepCloudflareKeyIn(model, std::move(token)); },
        },
        this);
    m_feed->setShares(m_shares);
    return *m_shares;
}

void AppDelegate::applicationDidFinishLaunching()
{
    m_signals = new TerminationSignals(this);
    // A session ending, kill or the service manager: nobody may be there to answer a question.
    connect(m_signals, &TerminationSignals::terminateRequested, this, &AppDelegate::quitWithoutQuestion);
    connect(m_powerOff, &PowerOffWatch::poweringOff, this, [this] {
        m_poweringOff = true;
        quitWithoutQuestion();
    });
    followDriveForInhibitor();
    if (!m_listener->listen(m_sessionBus))
        log().error("The file-manager plug-in can't be heard: no session bus");
    m_label->start();
    // Only in an X11 session; elsewhere, or when the grab fails, there is silently no hot key.
    m_searchShortcut = new SearchShortcut(this);
    connect(m_searchShortcut, &SearchShortcut::pressed, m_label, &MenuBarLabel::searchRequested);
    connect(m_trayWatch, &StatusNotifierWatch::hostChanged, this, &AppDelegate::trayHostChanged);
    m_trayWatch->start();
    // Launch reports its own outcome through the model's phase.
    m_model->launch();
}

void AppDelegate::followDriveForInhibitor()
{
    const auto follow = [this] {
        // Once quitting, the shutdown decides when the inhibitor goes.
        if (m_quitInProgress)
            return;
        const AppModelPhase::Kind phase = m_model->phase().kind;
        if (phase == AppModelPhase::running || phase == AppModelPhase::offline)
            m_powerOff->hold();
        else if (phase != AppModelPhase::starting)
            m_powerOff->release();
    };
    connect(m_model.get(), &AppModel::phaseChanged, this, follow);
    follow();
}

void AppDelegate::trayHostChanged(bool hasHost)
{
    QWidget *home = m_windows->window(MenuContent::homeWindow);
    if (hasHost) {
        m_tray->show();
        // The tray is there now (the panel started after us): the stand-in goes, or it would
        // show at every login. One the user opened stays.
        if (m_homeStandsIn && home)
            home->close();
        m_homeStandsIn = false;
        return;
    }
    // Without a tray the home window stands in for the menu.
    m_tray->hide();
    const bool open = home && home->isVisible();
    openWindow(MenuContent::homeWindow);
    m_homeStandsIn = !open;
}

void AppDelegate::openWindow(const QString &identifier)
{
    QWidget *window = m_windows->open(identifier);
    if (window && identifier == MenuContent::homeWindow) {
        // Opened for the user; a missing tray marks it again after this.
        m_homeStandsIn = false;
        // Once the window system has mapped it, to the front over other applications' windows.
        QTimer::singleShot(0, window, [window] {
            window->raise();
            window->activateWindow();
        });
    }
}

void AppDelegate::requestQuit()
{
    if (m_quitInProgress)
        return;
    m_quitInProgress = true;
    quitting();
}

void AppDelegate::quitWithoutQuestion()
{
    m_quitConfirmed = true;
    // A question already up must not hold the quit: it counts as "Quit Anyway".
    if (m_quitQuestion)
        m_quitQuestion->done(QMessageBox::AcceptRole);
    requestQuit();
}

QCoro::Task<> AppDelegate::quitting()
{
    QPointer<AppDelegate> self(this);
    if (!m_quitConfirmed) {
        const bool canQuit = co_await m_model->freshCanQuit();
        if (!self)
            co_return;
        // A signal or the power-off may have come while the count was read.
        if (!canQuit && !m_quitConfirmed && !confirmQuitWhileUploading()) {
            m_quitInProgress = false;
            co_return;
        }
        if (!self)
            co_return;
    }
    co_await m_model->shutdown();
    if (!self)
        co_return;
    m_powerOff->release();
    emit quitReady();
}

bool AppDelegate::confirmQuitWhileUploading()
{
    if (m_desktop.confirmQuitWhileUploading)
        return m_desktop.confirmQuitWhileUploading();
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Ovra"));
    box.setIcon(QMessageBox::Warning);
    box.setText(AppModel::quitMessage);
    box.setInformativeText(AppModel::quitDetail);
    QPushButton *wait = box.addButton(QStringLiteral("Wait"), QMessageBox::RejectRole);
    QPushButton *quit = box.addButton(QStringLiteral("Quit Anyway"), QMessageBox::AcceptRole);
    box.setDefaultButton(wait);
    box.setEscapeButton(wait);
    m_quitQuestion = &box;
    m_desktop.activate();
    box.exec();
    m_quitQuestion = nullptr;
    return box.clickedButton() == quit || m_quitConfirmed;
}

void AppDelegate::showKeepAlert(const QString &text, std::function<void()> closed)
{
    // A second alert while one shows: the one up now reads the latest text.
    if (m_keepAlert) {
        m_keepAlert->setText(text);
        m_keepAlert->raise();
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Ovra"), text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    m_keepAlert = box;
    // Opened, not run: the model's signal that asked for it returns at once.
    connect(box, &QMessageBox::finished, this, [closed = std::move(closed)] { closed(); });
    box->open();
}

void AppDelegate::reopen()
{
    m_menuBar->setShown(true);
    m_menuBar->setHomeWanted(true);
    QTimer::singleShot(reopenFallback, this, [this] {
        if (!m_menuBar->homeWanted())
            return;
        m_menuBar->setHomeWanted(false);
        m_desktop.activate();
        openWindow(MenuContent::settingsWindow);
    });
}

void AppDelegate::checkForUpdates()
{
    m_desktop.activate();
    // There is no updater in this build (its update key is a placeholder): say so.
    if (!updatesConfigured(AppInfo::dictionary()))
        log().info("Check for updates: this build does not update itself");
    m_desktop.inform(noUpdatesText, noUpdatesDetail);
}

void AppDelegate::perform(Action action)
{
    const auto open = [this](const QString &identifier) {
        m_desktop.activate();
        openWindow(identifier);
    };
    switch (action) {
    case Action::none:
        return;
    case Action::setUp:
        return open(MenuContent::setupWindow);
    case Action::tryAgain:
        m_model->launch();
        return;
    case Action::reconnect:
        reconnect();
        return;
    case Action::openExtensionSettings:
        m_desktop.openUrl(QUrl::fromLocalFile(AppResources::fileSystemHelpPage()));
        return;
    case Action::search:
        return open(MenuContent::searchWindow);
    case Action::openInFinder:
        if (const std::optional<QString> mount = m_model->mountPath())
            m_desktop.showFolder(*mount);
        return;
    case Action::uploads:
        return open(MenuContent::uploadsWindow);
    case Action::recentlyDeleted:
        return open(MenuContent::recentlyDeletedWindow);
    case Action::copyAll:
        return open(MenuContent::copyAllWindow);
    case Action::shareFiles:
        return pickAndShare();
    case Action::sharedLinks:
        return open(MenuContent::sharedLinksWindow);
    case Action::resolveConflicts:
        return open(MenuContent::conflictWindow);
    case Action::checkForUpdates:
        return checkForUpdates();
    case Action::settings:
        return open(MenuContent::settingsWindow);
    case Action::quit:
        return requestQuit();
    }
}

QCoro::Task<> AppDelegate::reconnect()
{
    QPointer<AppDelegate> self(this);
    std::exception_ptr failure;
    try {
        co_await m_model->reconnect();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !failure)
        co_return;
    QString detail;
    try {
        std::rethrow_exception(failure);
    } catch (const AppModelError &error) {
        detail = error.message;
    } catch (const std::exception &error) {
        detail = QString::fromUtf8(error.what());
    }
    m_desktop.activate();
    m_desktop.alert(MenuContent::reconnectFailedText, detail);
}

void AppDelegate::pickAndShare()
{
    m_desktop.activate();
    ShareFilesPanel::pickAndShare(&shares(), m_model->mountPath().value_or(QString()), nullptr, [this] {
        m_desktop.activate();
        openWindow(MenuContent::shareWindow);
    });
}

} // namespace CorvaneDrive
