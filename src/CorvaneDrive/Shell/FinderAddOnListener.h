#pragma once

#include "KeepShared/KeepBridge.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

namespace CorvaneDrive {

// The application's ear for the file-manager plug-in: its keep requests and its hellos, as
// session-bus signals from any sender (KeepShared::KeepBus). A request whose payload is missing,
// not one string, longer than 65,536 UTF-8 bytes or not a keep request is dropped without a
// word. Every hello re-posts the keep state at once; it also starts a refresh unless one started
// by a hello still runs or the last one started less than 1 s ago. Main thread.
class FinderAddOnListener : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // What the listener calls; the delegate points these at the model.
    struct Target {
        std::function<QCoro::Task<>(KeepShared::KeepRequest)> handle;
        std::function<void()> saidHello;
        std::function<QCoro::Task<>()> refresh;
    };

    static constexpr std::chrono::milliseconds refreshSpacing = std::chrono::seconds(1);

    FinderAddOnListener(Target target, Clock clock = std::chrono::steady_clock::now, QObject *parent = nullptr);

    // Starts listening on `bus`; false when the bus refused the match.
    bool listen(QDBusConnection bus = QDBusConnection::sessionBus());

    // The two notifications as they arrive; the payload is the signal's string, if it had one.
    void request(const std::optional<QString> &payload);
    void hello();

    bool refreshRunning() const { return m_refreshRunning; }

private slots:
    void requestSignal(const QDBusMessage &message);
    void helloSignal(const QDBusMessage &message);

private:
    QCoro::Task<> runRefresh();

    Target m_target;
    Clock m_clock;
    std::optional<std::chrono::steady_clock::time_point> m_lastRefresh; // none: the distant past
    bool m_refreshRunning = false;
};

} // namespace CorvaneDrive
