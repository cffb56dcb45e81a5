#pragma once

#include "CorvaneDrive/Shell/MenuBarPresence.h"
#include "DriveCore/model/AppModel.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace CorvaneDrive {

// The tray icon's face and the application's reactions to the model: the icon name and the
// tooltip, and the windows that open by themselves (home after a reopen, setup when the drive
// needs setting up, conflict when a conflict arrives, search on the hot key) and the keep alert.
// The reactions run whether or not a tray shows the icon: without a tray the home window
// stands in for it. Main thread.
class MenuBarLabel : public QObject {
    Q_OBJECT
public:
    // What a reaction does outside the label; the delegate supplies the real ones.
    struct Effects {
        std::function<void()> activate; // brings the application to the front
        std::function<void(const QString &)> openWindow; // by identifier; raises an open one
        // One "OK" button; returns at once, and `closed` runs once the user has dismissed it.
        std::function<void(const QString &text, std::function<void()> closed)> showAlert;
        std::function<void()> dismissKeepAlert; // the model's dismissKeepAlert()
    };

    // Icon names in the hicolor theme, all symbolic so that panels recolour them.
    static inline const QString brandIcon = QStringLiteral("corvane-drive-symbolic");
    static inline const QString uploadingIcon = QStringLiteral("corvane-drive-uploading-symbolic");
    static inline const QString offlineIcon = QStringLiteral("corvane-drive-offline-symbolic");
    static inline const QString problemIcon = QStringLiteral("corvane-drive-problem-symbolic");

    // The icon for the model's status symbol: the brand alone for "cloud", the brand with the
    // status mark for the others.
    static QString iconName(const QString &menuIcon);
    // "Ovra — " and the status line.
    static QString toolTip(const QString &statusLine);

    MenuBarLabel(DriveCore::AppModel *model, MenuBarPresence *presence, Effects effects, QObject *parent = nullptr);

    // Starts the reactions and catches up with the presence's homeWanted and the model's phase,
    // as a label does when it first appears.
    void start();

    QString iconName() const;
    QString toolTip() const;

public slots:
    // The search hot key was pressed: opens search once the drive is set up.
    void searchRequested();

signals:
    // The icon name or the tooltip may have changed.
    void faceChanged();

private:
    void homeWantedChanged();
    void phaseChanged();
    void keepAlertChanged();
    void conflictsChanged();

    QPointer<DriveCore::AppModel> m_model;
    QPointer<MenuBarPresence> m_presence;
    Effects m_effects;
    qsizetype m_conflicts = 0;
    bool m_started = false;
};

} // namespace CorvaneDrive
