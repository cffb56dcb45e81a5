#include "CorvaneDrive/Shell/FinderAddOnListener.h"

#include "DriveCore/support/Log.h"
#include "KeepShared/KeepBus.h"

#include <QPointer>

namespace CorvaneDrive {

namespace {

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

FinderAddOnListener::FinderAddOnListener(Target target, Clock clock, QObject *parent)
    : QObject(parent), m_target(std::move(target)), m_clock(std::move(clock))
{
}

bool FinderAddOnListener::listen(QDBusConnection bus)
{
    using namespace KeepShared;
    const QString path = fromView(KeepBus::objectPath);
    const bool request = bus.connect(QString(), path, fromView(KeepBus::requestSignal.interface),
                                     fromView(KeepBus::requestSignal.member), this, SLOT(requestSignal(QDBusMessage)));
    const bool hello = bus.connect(QString(), path, fromView(KeepBus::helloSignal.interface),
                                   fromView(KeepBus::helloSignal.member), this, SLOT(helloSignal(QDBusMessage)));
    return request && hello;
}

void FinderAddOnListener::requestSignal(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    std::optional<QString> payload;
    if (arguments.size() == 1 && arguments.first().metaType() == QMetaType::fromType<QString>())
        payload = arguments.first().toString();
    request(payload);
}

void FinderAddOnListener::helloSignal(const QDBusMessage &)
{
    hello();
}

void FinderAddOnListener::request(const std::optional<QString> &payload)
{
    if (!payload)
        return;
    const QByteArray utf8 = payload->toUtf8();
    std::optional<KeepShared::KeepRequest> decoded = KeepShared::KeepBridge::decode<KeepShared::KeepRequest>(
        std::string_view(utf8.constData(), size_t(utf8.size())));
    if (!decoded)
        return;
    // Each request runs on its own; nothing waits for it or orders it against others.
    m_target.handle(std::move(*decoded));
}

void FinderAddOnListener::hello()
{
    m_target.saidHello();
    const auto now = m_clock();
    if (m_refreshRunning || (m_lastRefresh && now - *m_lastRefresh < refreshSpacing))
        return;
    m_lastRefresh = now;
    m_refreshRunning = true;
    runRefresh();
}

QCoro::Task<> FinderAddOnListener::runRefresh()
{
    QPointer<FinderAddOnListener> self(this);
    try {
        co_await m_target.refresh();
    } catch (const std::exception &error) {
        // The model's refresh reports its own failures; this only keeps the throttle going.
        DriveCore::Log("app").error("A refresh for the file manager failed: %{public}s", error.what());
    }
    if (self)
        self->m_refreshRunning = false;
}

} // namespace CorvaneDrive
