#pragma once

#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Tasks.h"

#include <QString>

#include <exception>

// How the windows word the failures of the model's actions.
namespace CorvaneDrive::WindowErrors {

inline const QString fallbackText = QStringLiteral("Something went wrong. Try again in a moment.");

// Whether the failure is a cancellation (or the model having gone), which shows nothing.
inline bool isCancellation(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const DriveCore::CancelledError &) {
        return true;
    } catch (const DriveCore::OwnerGone &) {
        return true;
    } catch (...) {
        return false;
    }
}

// The text of a failed user action: the model's own message, else the fallback.
inline QString message(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const DriveCore::AppModelError &error) {
        return error.message;
    } catch (...) {
        return fallbackText;
    }
}

// The text of a failure the window only reports: the model's message, else the error's own
// description, else the fallback.
inline QString description(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const DriveCore::AppModelError &error) {
        return error.message;
    } catch (const std::exception &error) {
        const QString text = QString::fromUtf8(error.what());
        return text.isEmpty() ? fallbackText : text;
    } catch (...) {
        return fallbackText;
    }
}

} // namespace CorvaneDrive::WindowErrors
