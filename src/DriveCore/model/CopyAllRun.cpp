#include "DriveCore/model/CopyAllRun.h"

#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Threads.h"

#include <QCoroSignal>
#include <QPointer>
#include <QThread>

namespace DriveCore {

CopyAllRun::CopyAllRun(Copy copy, QObject *parent) : QObject(parent), m_copy(std::move(copy)) {}

CopyAllRun::~CopyAllRun() = default;

bool CopyAllRun::start(QString folder)
{
    if (isRunning())
        return false;
    m_folder = folder;
    m_progress.reset();
    m_outcome = Outcome::none;
    m_message.reset();
    m_ended = false;
    QPointer<CopyAllRun> self(this);
    QThread *const home = thread();
    m_task = TaskHandle<>::start([self, home, copy = m_copy, folder](CancelToken token) -> QCoro::Task<> {
        // Reports come from the copy's own work; they are taken on the main thread only, and a
        // late one of a copy that has ended is still shown, as the last figure it reached.
        const auto progress = [self, home](const CopyProgress &progress) {
            if (QThread::currentThread() == home) {
                if (self)
                    self->report(progress);
                return;
            }
            onMainThread([self, progress] {
                if (self)
                    self->report(progress);
            });
        };
        Outcome outcome = Outcome::finished;
        std::optional<QString> message;
        try {
            co_await copy(folder, progress, token);
        } catch (const CancelledError &) {
            outcome = Outcome::stopped;
            message = stoppedText;
        } catch (const AppModelError &error) {
            outcome = Outcome::failed;
            message = error.message;
        } catch (const std::exception &) {
            outcome = Outcome::failed;
            message = genericFailureText;
        }
        if (self)
            self->end(outcome, std::move(message));
    });
    emit changed();
    return true;
}

void CopyAllRun::stop()
{
    if (isRunning())
        m_task.cancel();
}

QCoro::Task<> CopyAllRun::ended(CancelToken token)
{
    QPointer<CopyAllRun> self(this);
    while (self && self->isRunning()) {
        checkCancelled(token);
        const CancelHook hook(token, &self->m_waker, [self] { self->m_waker.fire(); });
        co_await qCoro(&self->m_waker, &detail::Waker::fired);
    }
}

void CopyAllRun::report(const CopyProgress &progress)
{
    if (m_progress == progress)
        return;
    m_progress = progress;
    emit changed();
}

void CopyAllRun::end(Outcome outcome, std::optional<QString> message)
{
    m_ended = true;
    m_outcome = outcome;
    m_message = std::move(message);
    emit changed();
    m_waker.fire();
}

} // namespace DriveCore
