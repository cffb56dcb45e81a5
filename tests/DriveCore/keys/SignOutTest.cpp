#include "DriveCore/keys/SignOut.h"

#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/SetOnceFlag.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <deque>

using namespace DriveCore;
using TestSupport::await;
using Step = SignOutStep;

namespace {

// Answers the counts from scripts (the last answer repeats) and records every call.
class ScriptedDeps final : public SignOutDeps {
public:
    std::deque<qint64> uploads{0};
    std::deque<qint64> trash{0};
    std::deque<bool> failing{false};
    bool unuploaded = false;
    bool pendingTrash = false;
    std::optional<AppModelError> secretsError;
    QStringList calls;

    QCoro::Task<qint64> pendingUploads() override { co_return take(uploads, "pendingUploads"); }
    QCoro::Task<qint64> pendingTrashMoves() override { co_return take(trash, "pendingTrashMoves"); }
    QCoro::Task<bool> trashMovesFailing() override { co_return take(failing, "trashMovesFailing"); }
    QCoro::Task<> stopDrive(bool waitForUploads) override
    {
        calls << (waitForUploads ? QStringLiteral("stop waiting") : QStringLiteral("stop"));
        co_return;
    }
    QCoro::Task<bool> hasUnuploadedFiles() override { co_return record("hasUnuploadedFiles", unuploaded); }
    QCoro::Task<bool> hasPendingTrashMoves() override { co_return record("hasPendingTrashMoves", pendingTrash); }
    QCoro::Task<> restartDrive() override
    {
        calls << QStringLiteral("restart");
        co_return;
    }
    QCoro::Task<> deleteSecrets() override
    {
        calls << QStringLiteral("deleteSecrets");
        if (secretsError)
            throw *secretsError;
        co_return;
    }
    QCoro::Task<> deleteLocalData() override
    {
        calls << QStringLiteral("deleteLocalData");
        co_return;
    }
    void clearSettings() override { calls << QStringLiteral("clearSettings"); }

private:
    template<typename T>
    T take(std::deque<T> &script, const char *name)
    {
        calls << QString::fromLatin1(name);
        const T value = script.front();
        if (script.size() > 1)
            script.pop_front();
        return value;
    }
    bool record(const char *name, bool value)
    {
        calls << QString::fromLatin1(name);
        return value;
    }
};

struct SignOutRun {
    std::optional<bool> discarded;
    std::exception_ptr error;
    QList<Step> steps;
};

// Runs a sign-out; `onPause(n)` is called at the n-th pause (from 1), where a test presses
// cancel or force.
SignOutRun runSignOut(const std::shared_ptr<ScriptedDeps> &deps, const std::shared_ptr<SetOnceFlag> &cancel,
                      const std::shared_ptr<SetOnceFlag> &force, std::function<void(int)> onPause = {})
{
    int pauses = 0;
    const SignOut signOut([&]() -> QCoro::Task<> {
        deps->calls << QStringLiteral("sleep");
        if (onPause)
            onPause(++pauses);
        co_return;
    });
    SignOutRun run;
    try {
        run.discarded = await(signOut.run(
            deps, [&](const Step &step) { run.steps << step; }, [cancel] { return cancel->isSet(); },
            [force] { return force->isSet(); }));
    } catch (...) {
        run.error = std::current_exception();
    }
    return run;
}

class SignOutTest : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedDeps> deps = std::make_shared<ScriptedDeps>();
    std::shared_ptr<SetOnceFlag> cancel = std::make_shared<SetOnceFlag>();
    std::shared_ptr<SetOnceFlag> force = std::make_shared<SetOnceFlag>();
};

const QList<Step> removals{Step{Step::removingKeys}, Step{Step::removingLocalFiles}, Step{Step::done}};

TEST_F(SignOutTest, NothingPendingStopsAndRemovesInOrder)
{
    const SignOutRun run = runSignOut(deps, cancel, force);
    EXPECT_EQ(run.discarded, false);
    EXPECT_EQ(run.steps, QList<Step>{Step{Step::stopping}} + removals);
    EXPECT_EQ(deps->calls,
              (QStringList{"pendingUploads", "pendingTrashMoves", "stop waiting", "hasUnuploadedFiles",
                           "hasPendingTrashMoves", "deleteSecrets", "deleteLocalData", "clearSettings"}));
}

TEST_F(SignOutTest, WaitsReportingOnlyChanges)
{
    deps->uploads = {3, 3, 2, 0};
    deps->trash = {4, 4, 4, 0};
    deps->failing = {false, true, true};
    const SignOutRun run = runSignOut(deps, cancel, force);
    EXPECT_EQ(run.discarded, false);
    EXPECT_EQ(run.steps,
              (QList<Step>{Step::waiting(3), Step::waiting(2), Step::deleting(false), Step::deleting(true),
                           Step{Step::stopping}}
               + removals));
}

TEST_F(SignOutTest, UploadsThatReappearWhileDeletionsDrainAreReportedAgain)
{
    deps->uploads = {2, 0, 2, 0};
    deps->trash = {1, 0};
    const SignOutRun run = runSignOut(deps, cancel, force);
    EXPECT_EQ(
        run.steps,
        (QList<Step>{Step::waiting(2), Step::deleting(false), Step::waiting(2), Step{Step::stopping}} + removals));
}

TEST_F(SignOutTest, ForcedAtTheStartDiscardsWhatTheCacheHoldsWhateverTheQueueSays)
{
    // After a refusal the unuploaded files may sit in the cache with an empty queue; a count
    // must not send "Sign Out Anyway" into the same refusal again.
    for (const qint64 pending : {5, 0}) {
        SCOPED_TRACE(pending);
        deps = std::make_shared<ScriptedDeps>();
        deps->uploads = {pending};
        deps->unuploaded = true;
        force->set();
        const SignOutRun run = runSignOut(deps, cancel, force);
        EXPECT_FALSE(run.error);
        EXPECT_EQ(run.discarded, true);
        EXPECT_EQ(deps->calls, (QStringList{"stop", "deleteSecrets", "deleteLocalData", "clearSettings"}));
    }
}

TEST_F(SignOutTest, ForcedWhileUploadsWaitDiscardsThem)
{
    deps->uploads = {5};
    deps->unuploaded = true;
    const SignOutRun run = runSignOut(deps, cancel, force, [&](int pause) {
        if (pause == 2)
            force->set();
    });
    EXPECT_EQ(run.discarded, true);
    EXPECT_EQ(run.steps, (QList<Step>{Step::waiting(5), Step{Step::stopping}} + removals));
    EXPECT_TRUE(deps->calls.contains(QStringLiteral("stop")));
    EXPECT_FALSE(deps->calls.contains(QStringLiteral("hasUnuploadedFiles")));
}

TEST_F(SignOutTest, ForcedWhileDeletionsWaitIgnoresThemButGuardsUnuploadedFiles)
{
    deps->trash = {2};
    deps->pendingTrash = true;
    SignOutRun run = runSignOut(deps, cancel, force, [&](int) { force->set(); });
    EXPECT_EQ(run.discarded, false);
    EXPECT_FALSE(run.error);
    EXPECT_FALSE(deps->calls.contains(QStringLiteral("hasPendingTrashMoves")));

    deps = std::make_shared<ScriptedDeps>();
    deps->trash = {2};
    deps->unuploaded = true;
    force = std::make_shared<SetOnceFlag>();
    run = runSignOut(deps, cancel, force, [&](int) { force->set(); });
    ASSERT_TRUE(run.error);
    EXPECT_THROW(std::rethrow_exception(run.error), SignOut::UnuploadedFiles);
    EXPECT_EQ(deps->calls.mid(deps->calls.indexOf(QStringLiteral("stop"))),
              (QStringList{"stop", "hasUnuploadedFiles", "restart"}));
}

TEST_F(SignOutTest, CancelDuringEitherWaitLeavesEverything)
{
    for (const bool duringDeletes : {false, true}) {
        SCOPED_TRACE(duringDeletes);
        deps = std::make_shared<ScriptedDeps>();
        cancel = std::make_shared<SetOnceFlag>();
        (duringDeletes ? deps->trash : deps->uploads) = {1};
        const SignOutRun run = runSignOut(deps, cancel, force, [&](int) { cancel->set(); });
        EXPECT_EQ(run.discarded, false);
        EXPECT_EQ(run.steps.last(), Step{Step::cancelled});
        EXPECT_FALSE(deps->calls.contains(QStringLiteral("stop"))
                     || deps->calls.contains(QStringLiteral("stop waiting")));
        EXPECT_FALSE(deps->calls.contains(QStringLiteral("deleteSecrets")));
    }
    // Cancelled before the start: nothing is asked.
    deps = std::make_shared<ScriptedDeps>();
    const SignOutRun run = runSignOut(deps, cancel, force);
    EXPECT_EQ(run.steps, QList<Step>{Step{Step::cancelled}});
    EXPECT_TRUE(deps->calls.isEmpty());
}

TEST_F(SignOutTest, LeftoversAfterANormalStopRestartTheDriveAndFail)
{
    for (const bool trashOnly : {false, true}) {
        SCOPED_TRACE(trashOnly);
        deps = std::make_shared<ScriptedDeps>();
        (trashOnly ? deps->pendingTrash : deps->unuploaded) = true;
        const SignOutRun run = runSignOut(deps, cancel, force);
        ASSERT_TRUE(run.error);
        try {
            std::rethrow_exception(run.error);
        } catch (const SignOut::UnuploadedFiles &error) {
            EXPECT_EQ(
                error.message,
                QStringLiteral("Some files haven't uploaded yet. Open Ovra again to let them finish, then sign out."));
        }
        EXPECT_EQ(deps->calls.last(), QStringLiteral("restart"));
        EXPECT_FALSE(deps->calls.contains(QStringLiteral("deleteSecrets")));
    }
}

TEST_F(SignOutTest, FailedKeyRemovalEndsTheRunThere)
{
    deps->secretsError = AppModelError(QStringLiteral("Keyring error -25308: interaction not allowed."));
    const SignOutRun run = runSignOut(deps, cancel, force);
    ASSERT_TRUE(run.error);
    EXPECT_EQ(run.steps, (QList<Step>{Step{Step::stopping}, Step{Step::removingKeys}}));
    EXPECT_FALSE(deps->calls.contains(QStringLiteral("deleteLocalData")));
    try {
        std::rethrow_exception(run.error);
    } catch (const AppModelError &error) {
        EXPECT_EQ(SignOut::failureText(error),
                  QStringLiteral("Sign out didn't finish: Keyring error -25308: interaction not allowed. Nothing was "
                                 "removed after that step. Try again."));
    }
}

TEST(SignOutTexts, ForceTitleAndFailureText)
{
    EXPECT_EQ(SignOut::forceTitle(std::nullopt), QStringLiteral("Some files haven't uploaded yet."));
    EXPECT_EQ(SignOut::forceTitle(0), QStringLiteral("Some files haven't uploaded yet."));
    EXPECT_EQ(SignOut::forceTitle(1), QStringLiteral("1 file hasn't uploaded yet."));
    EXPECT_EQ(SignOut::forceTitle(12), QStringLiteral("12 files haven't uploaded yet."));
    EXPECT_EQ(SignOut::failureText(std::runtime_error("Disk full...")),
              QStringLiteral("Sign out didn't finish: Disk full. Nothing was removed after that step. Try again."));
}

} // namespace
