#pragma once

#include <QObject>

namespace CorvaneDrive {

// Whether the tray icon is in place, and whether a reopen still waits for the home window to
// open. Held in memory only: every launch starts with the icon shown and nothing wanted.
// Setting a field to the value it holds notifies nobody. Main thread.
class MenuBarPresence : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool shown() const { return m_shown; }
    bool homeWanted() const { return m_homeWanted; }
    void setShown(bool shown);
    void setHomeWanted(bool wanted);

signals:
    void shownChanged();
    void homeWantedChanged();

private:
    bool m_shown = true;
    bool m_homeWanted = false;
};

} // namespace CorvaneDrive
