#include "DriveCore/model/ConflictLines.h"

#include <QMetaObject>

namespace DriveCore {

std::shared_ptr<ConflictLines> ConflictLines::make(QObject *receiver, Reader reader)
{
    return std::shared_ptr<ConflictLines>(new ConflictLines(receiver, std::move(reader)));
}

ConflictLines::ConflictLines(QObject *receiver, Reader reader) : m_receiver(receiver), m_reader(std::move(reader)) {}

void ConflictLines::send(const QString &line)
{
    const std::lock_guard lock(m_mutex);
    if (!m_receiver)
        return;
    m_lines.append(line);
    if (m_scheduled)
        return;
    m_scheduled = true;
    // Posting under the lock: close() takes it too, so the receiver is alive while we post, and
    // Qt drops events still queued for a receiver that is destroyed.
    QMetaObject::invokeMethod(m_receiver, [self = shared_from_this()] { self->drain(); }, Qt::QueuedConnection);
}

void ConflictLines::close()
{
    const std::lock_guard lock(m_mutex);
    m_receiver = nullptr;
    m_lines.clear();
}

void ConflictLines::drain()
{
    QStringList lines;
    {
        const std::lock_guard lock(m_mutex);
        m_scheduled = false;
        if (!m_receiver)
            return;
        lines.swap(m_lines);
    }
    if (!lines.isEmpty())
        m_reader(lines);
}

} // namespace DriveCore
