#pragma once

#include <QString>

#include <exception>
#include <optional>
#include <stdexcept>

namespace DriveCore {

// The base of every error whose text the user reads as it is; what() gives the same text.
// Errors that carry only a case (a code the caller turns into its own sentence) do not derive
// from it.
class UserError : public std::runtime_error {
public:
    explicit UserError(const QString &text) : std::runtime_error(text.toStdString()), m_userText(text) {}

    // The text shown to the user.
    const QString &userText() const { return m_userText; }

private:
    QString m_userText;
};

// The text of any failure: a UserError's text, another exception's what(), "unknown error" for
// something thrown that is no std::exception. None for a cancellation (CancelledError): a
// cancelled action tells the user nothing.
std::optional<QString> errorText(const std::exception_ptr &error);

// Whether `error` is a cancellation (CancelledError).
bool isCancellation(const std::exception_ptr &error);

} // namespace DriveCore
