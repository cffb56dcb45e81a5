#include "DriveCore/support/UserError.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/UserTextError.h"

#include <gtest/gtest.h>

#include <functional>

using namespace DriveCore;

namespace {

std::exception_ptr thrown(const std::function<void()> &action)
{
    try {
        action();
    } catch (...) {
        return std::current_exception();
    }
    return {};
}

} // namespace

TEST(UserError, EveryFailureHasATextAndACancellationHasNone)
{
    using Problem = UserTextError<struct ProblemTag>;
    struct Case {
        const char *name;
        std::exception_ptr error;
        std::optional<QString> text;
        bool cancelled = false;
    };
    const Case cases[] = {
        {.name = "user error",
         .error = thrown([] { throw UserError(QStringLiteral("“Bucket” is full…")); }),
         .text = QStringLiteral("“Bucket” is full…")},
        {.name = "tagged",
         .error = thrown([] { throw Problem(QStringLiteral("No folder.")); }),
         .text = QStringLiteral("No folder.")},
        {.name = "app model",
         .error = thrown([] { throw AppModelError(QStringLiteral("Try again.")); }),
         .text = QStringLiteral("Try again.")},
        {.name = "other exception",
         .error = thrown([] { throw std::runtime_error("disk full"); }),
         .text = QStringLiteral("disk full")},
        {.name = "not an exception", .error = thrown([] { throw 5; }), .text = QStringLiteral("unknown error")},
        {.name = "cancelled", .error = thrown([] { throw CancelledError(); }), .text = std::nullopt, .cancelled = true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(errorText(c.error), c.text);
        EXPECT_EQ(isCancellation(c.error), c.cancelled);
    }
}
