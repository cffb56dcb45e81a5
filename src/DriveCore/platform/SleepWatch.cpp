#include "DriveCore/platform/SleepWatch.h"

namespace DriveCore {

SleepWatch::SleepWatch(QObject *parent) : SleepWatch(QDBusConnection::systemBus(), parent) {}

SleepWatch::SleepWatch(QDBusConnection bus, QObject *parent) : QObject(parent)
{
    // Only logind's own announcement counts: the match names its bus name, so another
    // process on the bus cannot fake a wake-up.
    m_watching = bus.isConnected()
        && bus.connect(QString::fromLatin1(service), QString::fromLatin1(path), QString::fromLatin1(interface),
                       QString::fromLatin1(signal), this, SLOT(prepareForSleep(bool)));
}

void SleepWatch::prepareForSleep(bool goingToSleep)
{
    if (!goingToSleep)
        emit woke();
}

} // namespace DriveCore
