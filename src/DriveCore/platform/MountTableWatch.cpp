#include "DriveCore/platform/MountTableWatch.h"

#include "DriveCore/platform/MountTable.h"

#include <QSocketNotifier>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace DriveCore {

MountTableWatch::MountTableWatch(QObject *parent) : QObject(parent)
{
    m_fd = ::open(MountTable::mountInfoPath, O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    m_mountIDs = mountIDs();
    // The kernel reports a change as POLLPRI (with POLLERR), once per poll after the change:
    // an exception notifier is exactly that poll, on this thread's event loop.
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MountTableWatch::tableChanged);
}

MountTableWatch::~MountTableWatch()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void MountTableWatch::tableChanged()
{
    std::set<int> now = mountIDs();
    const bool lostOne = !std::includes(now.begin(), now.end(), m_mountIDs.begin(), m_mountIDs.end());
    m_mountIDs = std::move(now);
    if (lostOne)
        emit unmounted();
}

std::set<int> MountTableWatch::mountIDs()
{
    std::set<int> ids;
    for (const MountEntry &entry : MountTable::read())
        ids.insert(entry.id);
    return ids;
}

} // namespace DriveCore
