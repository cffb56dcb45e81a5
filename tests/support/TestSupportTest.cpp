#include "support/TestSupport.h"

#include "DriveCore/support/Tasks.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace std::chrono_literals;

namespace {

// A task that never ends: it waits on a waker that nobody fires.
QCoro::Task<int> never(std::shared_ptr<DriveCore::detail::Waker> waker)
{
    co_await qCoro(waker.get(), &DriveCore::detail::Waker::fired);
    co_return 1;
}

} // namespace

TEST(TestSupport, AHungAwaitFailsTheCaseByNameWithinItsLimit)
{
    auto waker = std::make_shared<DriveCore::detail::Waker>();
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(TestSupport::await(never(waker), 50ms), std::runtime_error),
                            "TestSupport.AHungAwaitFailsTheCaseByNameWithinItsLimit: an await did not finish within 50 ms");
}

TEST(TestSupport, AnAwaitThatEndsGivesItsResultOrError)
{
    EXPECT_EQ(TestSupport::await([]() -> QCoro::Task<int> { co_return 7; }()), 7);
    EXPECT_THROW(TestSupport::await([]() -> QCoro::Task<> {
                     co_await DriveCore::sleep(1ms);
                     throw std::logic_error("failed");
                 }()),
                 std::logic_error);
}
