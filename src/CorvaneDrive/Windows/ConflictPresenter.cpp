#include "CorvaneDrive/Windows/ConflictPresenter.h"

#include "CorvaneDrive/Windows/WindowErrors.h"

namespace CorvaneDrive {

ConflictPresenter::ConflictPresenter(ConflictContext context, QObject *parent)
    : QObject(parent), m_context(std::move(context))
{
    m_context.observe(this, [this] { emit changed(); });
}

std::optional<QString> ConflictPresenter::title() const
{
    const auto shown = m_context.currentConflict();
    if (!shown)
        return std::nullopt;
    return DriveCore::ConflictText::title(*shown);
}

void ConflictPresenter::choose(DriveCore::ConflictChoice choice)
{
    if (m_working)
        return;
    m_working = true;
    emit changed();
    run(this, m_context, choice);
}

QCoro::Task<> ConflictPresenter::run(QPointer<ConflictPresenter> self, ConflictContext context,
                                     DriveCore::ConflictChoice choice)
{
    std::optional<QString> notice;
    std::exception_ptr failure;
    try {
        notice = co_await context.resolve(choice);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        // A failure leaves an earlier notice as it was.
        self->m_error = WindowErrors::message(failure);
    } else {
        self->m_notice = std::move(notice);
        self->m_error.reset();
    }
    self->m_working = false;
    emit self->changed();
}

void ConflictPresenter::dismissNotice()
{
    if (!m_notice)
        return;
    m_notice.reset();
    emit changed();
}

} // namespace CorvaneDrive
