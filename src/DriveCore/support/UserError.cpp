#include "DriveCore/support/UserError.h"

#include "DriveCore/support/Cancellation.h"

namespace DriveCore {

std::optional<QString> errorText(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CancelledError &) {
        return std::nullopt;
    } catch (const UserError &user) {
        return user.userText();
    } catch (const std::exception &other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

bool isCancellation(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CancelledError &) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace DriveCore
