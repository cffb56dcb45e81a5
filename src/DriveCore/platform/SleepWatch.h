#pragma once

#include <QDBusConnection>
#include <QObject>

namespace DriveCore {

// Tells when the computer woke from sleep: logind announces PrepareForSleep(false) on the
// system bus. A main-thread object; without a system bus (or without logind) it simply never
// fires.
class SleepWatch : public QObject {
    Q_OBJECT
public:
    static constexpr const char *service = "org.freedesktop.login1";
    static constexpr const char *path = "/org/freedesktop/login1";
    static constexpr const char *interface = "org.freedesktop.login1.Manager";
    static constexpr const char *signal = "PrepareForSleep";

    // Watches `bus` (tests give a bus of their own).
    explicit SleepWatch(QObject *parent = nullptr);
    explicit SleepWatch(QDBusConnection bus, QObject *parent = nullptr);

    // False when there was no bus to watch.
    bool isWatching() const { return m_watching; }

signals:
    void woke();

private slots:
    void prepareForSleep(bool goingToSleep);

private:
    bool m_watching = false;
};

} // namespace DriveCore
