#pragma once

#include "CorvaneDrive/Settings/SettingsContext.h"
#include "CorvaneDrive/Settings/SettingsPresenter.h"
#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/services/CloudflareBill.h"
#include "DriveCore/services/StorageUsage.h"

#include "DriveCore/model/AppModel.h"

#include <QCoroTask>
#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;
class QStackedWidget;
class QTabBar;

namespace CorvaneDrive {

class GeneralTab;
class KeptFilesSettings;
class StorageTab;

// The settings window ("Ovra Settings"): three tabs under a row of segments, and the sheets
// over it, each a window-modal dialog made afresh when asked for. Without a drive it shows only
// "Set up Ovra first.". It holds the state its tabs and sheets share (the shown sheet, the last
// failure, the start-at-login switch, the cache slider and the usage figures), and counts as an
// open window for the model while shown. Built with the application's one model:
// `new SettingsWindow(model)`.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    using Tab = SettingsPresenter::Tab;
    using SheetKind = SettingsPresenter::SheetKind;

    explicit SettingsWindow(DriveCore::AppModel &model, SettingsContext context = {}, QWidget *parent = nullptr);
    ~SettingsWindow() override;

    DriveCore::AppModel &model() const { return *m_model; }
    const SettingsContext &context() const { return m_context; }

    // --- The window's state; `changed` follows every change of it ---
    qint64 cacheGB() const { return m_cacheGB; }
    bool applyingCache() const { return m_applyingCache; }
    bool startAtLogin() const { return m_startAtLogin; }
    const std::optional<QString> &error() const { return m_error; }
    std::optional<SheetKind> sheet() const { return m_sheet; }
    const std::optional<DriveCore::StorageUsage> &usage() const { return m_usage; }
    const std::optional<QString> &usageError() const { return m_usageError; }
    bool measuringUsage() const { return m_measuringUsage; }
    const std::optional<DriveCore::R2MonthUsage> &cloudflare() const { return m_cloudflare; }
    const std::optional<QString> &cloudflareError() const { return m_cloudflareError; }
    bool cloudflareAsked() const { return m_cloudflareAsked; }
    Tab tab() const { return m_tab; }

    void setTab(Tab tab);
    void setCacheGB(qint64 gb);
    // Presents that kind's sheet, made afresh; none closes the one shown.
    void setSheet(std::optional<SheetKind> kind);

    // --- Actions of the tabs ---
    // The start-at-login switch: the model's login item, the switch springing back on failure.
    void setStartAtLogin(bool on);
    // The phone switch turned off.
    QCoro::Task<> turnOffIPhoneSync();
    QCoro::Task<> changeEngine(DriveCore::DriveEngine engine);
    // "Turn on Keep on This Computer in Files…": the window to the front, then the plug-in's help.
    void openAddOnHelp();
    // The storage figures and, at the same time, Cloudflare's; returns at once while one runs.
    QCoro::Task<> loadUsage();
    // Applies the slider's size.
    QCoro::Task<> applyCache();

    // --- Parts, for tests ---
    QLabel *notSetUpLabel() const { return m_notSetUp; }
    QTabBar *tabBar() const { return m_tabBar; }
    GeneralTab *generalTab() const { return m_general; }
    KeptFilesSettings *keptTab() const { return m_kept; }
    StorageTab *storageTab() const { return m_storage; }
    QDialog *sheetDialog() const { return m_sheetDialog; }

signals:
    void changed();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void load();
    void render();
    void setError(std::optional<QString> error);
    QDialog *makeSheet(SheetKind kind);
    static QCoro::Task<> loadCloudflare(QPointer<SettingsWindow> self);

    QPointer<DriveCore::AppModel> m_model;
    SettingsContext m_context;

    qint64 m_cacheGB = 30;
    bool m_applyingCache = false;
    bool m_startAtLogin = true;
    std::optional<QString> m_error;
    std::optional<SheetKind> m_sheet;
    std::optional<DriveCore::StorageUsage> m_usage;
    std::optional<QString> m_usageError;
    bool m_measuringUsage = false;
    std::optional<DriveCore::R2MonthUsage> m_cloudflare;
    std::optional<QString> m_cloudflareError;
    bool m_cloudflareAsked = false;
    Tab m_tab = Tab::general;

    bool m_appeared = false;
    bool m_placed = false;
    QStackedWidget *m_faces;
    QLabel *m_notSetUp;
    QWidget *m_main;
    QTabBar *m_tabBar;
    QStackedWidget *m_tabs;
    GeneralTab *m_general;
    KeptFilesSettings *m_kept;
    StorageTab *m_storage;
    QPointer<QDialog> m_sheetDialog;
};

} // namespace CorvaneDrive
