#include "CorvaneDrive/Windows/CopyAllPresenter.h"

#include "DriveCore/platform/ByteCountFormat.h"
#include "DriveCore/support/Log.h"

namespace CorvaneDrive {

using DriveCore::CopyAllRun;
using DriveCore::CopyProgress;

CopyAllPresenter::CopyAllPresenter(CopyAllContext context, QObject *parent)
    : QObject(parent), m_context(std::move(context))
{
    if (m_context.run)
        connect(m_context.run.data(), &CopyAllRun::changed, this, &CopyAllPresenter::changed);
}

std::optional<QString> CopyAllPresenter::destination() const
{
    if (m_destination)
        return m_destination;
    return m_context.run ? m_context.run->folder() : std::nullopt;
}

bool CopyAllPresenter::running() const
{
    return m_context.run && m_context.run->isRunning();
}

std::optional<CopyProgress> CopyAllPresenter::progress() const
{
    // The last run's progress stays until the next start, also once another folder is chosen.
    if (!m_context.run)
        return std::nullopt;
    return m_context.run->progress();
}

bool CopyAllPresenter::finished() const
{
    return m_context.run && !m_outcomeDismissed && m_context.run->outcome() == CopyAllRun::Outcome::finished;
}

std::optional<QString> CopyAllPresenter::message() const
{
    if (!m_context.run || m_outcomeDismissed)
        return std::nullopt;
    return m_context.run->message();
}

std::optional<QString> CopyAllPresenter::spaceWarning() const
{
    const std::optional<QString> folder = destination();
    if (!folder || !m_driveBytes)
        return std::nullopt;
    const std::optional<qint64> free = m_context.freeSpace(*folder);
    if (!free || *free >= *m_driveBytes)
        return std::nullopt;
    return warningText(*m_driveBytes, *free);
}

std::pair<qint64, qint64> CopyAllPresenter::bar(const CopyProgress &progress)
{
    return {progress.bytesDone, std::max<qint64>(progress.bytesTotal, 1)};
}

QString CopyAllPresenter::progressText(const CopyProgress &progress)
{
    return DriveCore::ByteCountFormat::fileSize(progress.bytesDone) + QStringLiteral(" of ")
        + DriveCore::ByteCountFormat::fileSize(progress.bytesTotal);
}

QString CopyAllPresenter::warningText(qint64 driveBytes, qint64 freeBytes)
{
    return QStringLiteral("Your drive holds ") + DriveCore::ByteCountFormat::fileSize(driveBytes)
        + QStringLiteral(" but this folder's disk has only ") + DriveCore::ByteCountFormat::fileSize(freeBytes)
        + QStringLiteral(" free. Choose a bigger disk, or the copy will stop when it's full.");
}

void CopyAllPresenter::choose(const QString &folder)
{
    if (!canChoose())
        return;
    m_destination = folder;
    m_outcomeDismissed = true;
    emit changed();
    // The size is not cleared meanwhile; only the answer to the latest choice is kept.
    measure(this, m_context.driveSize, ++m_sizeGeneration);
}

QCoro::Task<> CopyAllPresenter::measure(QPointer<CopyAllPresenter> self, std::function<QCoro::Task<qint64>()> driveSize,
                                        int generation)
{
    std::optional<qint64> bytes;
    try {
        bytes = co_await driveSize();
    } catch (const std::exception &error) {
        // A size that cannot be read only leaves out the estimate.
        DriveCore::Log("app").info("No estimate for copying all files: %{public}s", error.what());
    }
    if (!self || self->m_sizeGeneration != generation)
        co_return;
    self->m_driveBytes = bytes;
    emit self->changed();
}

void CopyAllPresenter::start()
{
    const std::optional<QString> folder = destination();
    if (!canStart() || !m_context.run || !folder)
        return;
    m_outcomeDismissed = false;
    m_context.run->start(*folder);
}

void CopyAllPresenter::stop()
{
    if (m_context.run)
        m_context.run->stop();
}

void CopyAllPresenter::shown()
{
    m_context.windowOpened();
}
void CopyAllPresenter::hidden()
{
    m_context.windowClosed();
}

} // namespace CorvaneDrive
