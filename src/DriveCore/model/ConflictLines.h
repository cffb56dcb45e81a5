#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

namespace DriveCore {

// An unbounded stream of conflict-copy paths: sent from any thread (change sync reports them
// from its own tasks), read on the receiver's thread. Lines queue up and are handed over in
// order, in batches, from the receiver's event loop. Once the reader is closed, lines are
// dropped.
class ConflictLines : public std::enable_shared_from_this<ConflictLines> {
public:
    using Reader = std::function<void(const QStringList &lines)>;

    // `reader` runs on the thread of `receiver` while both exist.
    static std::shared_ptr<ConflictLines> make(QObject *receiver, Reader reader);

    // Any thread.
    void send(const QString &line);
    // Ends the stream; call before the receiver goes away. Any thread.
    void close();

private:
    ConflictLines(QObject *receiver, Reader reader);
    void drain();

    std::mutex m_mutex;
    QObject *m_receiver; // guarded by m_mutex; null once closed
    Reader m_reader;
    QStringList m_lines;
    bool m_scheduled = false;
};

} // namespace DriveCore
