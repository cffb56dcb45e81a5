#pragma once

#include <QDBusConnection>
#include <QObject>

#include <optional>

class QDBusServiceWatcher;

namespace DriveCore {

// Whether a tray (a StatusNotifier host) is on the session bus: the watcher service
// org.kde.StatusNotifierWatcher reports it in IsStatusNotifierHostRegistered and announces
// hosts coming and going. The toolkit checks this once per process, when the first tray icon
// is made, so the icon must not be made before a host is there. Main thread.
class StatusNotifierWatch : public QObject {
    Q_OBJECT
public:
    static constexpr const char *service = "org.kde.StatusNotifierWatcher";
    static constexpr const char *path = "/StatusNotifierWatcher";
    static constexpr const char *interface = "org.kde.StatusNotifierWatcher";

    explicit StatusNotifierWatch(QDBusConnection bus, QObject *parent = nullptr);

    // Starts watching and reads the current answer; hostChanged() follows with it.
    void start();
    bool hasHost() const { return m_hasHost.value_or(false); }
    // Whether an answer came yet.
    bool isKnown() const { return m_hasHost.has_value(); }

signals:
    // The first answer, and every change after it.
    void hostChanged(bool hasHost);

private slots:
    void check();

private:
    void setHost(bool hasHost);

    QDBusConnection m_bus;
    QDBusServiceWatcher *m_watcher = nullptr;
    std::optional<bool> m_hasHost;
    int m_checks = 0; // a later check's answer wins over an earlier one still on its way
};

} // namespace DriveCore
