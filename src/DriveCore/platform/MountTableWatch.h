#pragma once

#include <QObject>

#include <set>

class QSocketNotifier;

namespace DriveCore {

// Tells when a mount of this process's mount namespace went away (the kernel marks
// /proc/self/mountinfo with POLLPRI on every change of the table). A main-thread object: the
// signal arrives on the thread it lives on.
class MountTableWatch : public QObject {
    Q_OBJECT
public:
    explicit MountTableWatch(QObject *parent = nullptr);
    ~MountTableWatch() override;
    MountTableWatch(const MountTableWatch &) = delete;
    MountTableWatch &operator=(const MountTableWatch &) = delete;

    // False when the table could not be opened; the watch then never fires.
    bool isWatching() const { return m_notifier != nullptr; }

signals:
    // One or more mounts listed before the change are gone.
    void unmounted();

private:
    void tableChanged();
    static std::set<int> mountIDs();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::set<int> m_mountIDs;
};

} // namespace DriveCore
