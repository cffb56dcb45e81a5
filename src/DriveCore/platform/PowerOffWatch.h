#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

namespace DriveCore {

// logind on the system bus, for the power-off: tells when the computer is about to shut down
// (PrepareForShutdown(true)), and holds a "delay" inhibitor for shutdown while the drive runs
// so that the drive can stop before the machine goes down. Without a system bus or logind it
// never fires and holds nothing. Main thread.
class PowerOffWatch : public QObject {
    Q_OBJECT
public:
    static constexpr const char *service = "org.freedesktop.login1";
    static constexpr const char *path = "/org/freedesktop/login1";
    static constexpr const char *interface = "org.freedesktop.login1.Manager";

    explicit PowerOffWatch(QObject *parent = nullptr);
    explicit PowerOffWatch(QDBusConnection bus, QObject *parent = nullptr);

    bool isWatching() const { return m_watching; }

    // Asks for the inhibitor unless it is held or asked for; release() lets it go (also one
    // still being asked for, as soon as it arrives).
    void hold();
    void release();
    bool isHeld() const { return m_lock.isValid(); }

signals:
    void poweringOff();
    void heldChanged();

private slots:
    void prepareForShutdown(bool start);

private:
    void requestLock();

    QDBusConnection m_bus;
    bool m_watching = false;
    bool m_wanted = false;
    bool m_asking = false;
    QDBusUnixFileDescriptor m_lock;
};

} // namespace DriveCore
