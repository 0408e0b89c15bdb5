#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/system/SingleInstance.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

namespace zav::platform {
namespace {

using State = SingleInstanceLock::State;

// The state that a lock attempt in a child process of its own came to.
State AttemptInChild(const std::filesystem::path& file) {
    const pid_t child = fork();
    if (child == 0) {
        SingleInstanceLock lock;
        _exit(static_cast<int>(lock.AcquireFile(file)));
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    return static_cast<State>(WEXITSTATUS(status));
}

TEST(SingleInstanceLock, HeldUntilItsProcessIsKilled) {
    test::TempFolder folder;
    const auto file = folder.Path() / "ZAV_V2_Updater.lock";

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        SingleInstanceLock lock;
        const char state = static_cast<char>(lock.AcquireFile(file));
        (void)!write(ready[1], &state, 1);
        for (;;) {
            pause();
        }
    }
    close(ready[1]);
    char holderState = 0;
    ASSERT_EQ(read(ready[0], &holderState, 1), 1);
    close(ready[0]);
    ASSERT_EQ(static_cast<State>(holderState), State::Owned);

    EXPECT_EQ(AttemptInChild(file), State::HeldElsewhere);

    // No chance to clean up: the system alone must drop the lock.
    ASSERT_EQ(kill(holder, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_EQ(AttemptInChild(file), State::Owned);
}

TEST(SingleInstanceLock, ReleasedByReleaseAndByTheDestructor) {
    test::TempFolder folder;
    const auto file = folder.Path() / "ZAV_V2_Updater.lock";
    {
        SingleInstanceLock first;
        ASSERT_EQ(first.AcquireFile(file), State::Owned);
        SingleInstanceLock second;
        EXPECT_EQ(second.AcquireFile(file), State::HeldElsewhere);
        first.Release();
        EXPECT_EQ(first.GetState(), State::Unlocked);
        EXPECT_EQ(second.AcquireFile(file), State::Owned);
    }
    SingleInstanceLock third;
    EXPECT_EQ(third.AcquireFile(file), State::Owned);
}

TEST(SingleInstanceLock, NamedLockLivesInTheRuntimeFolder) {
    test::TempFolder folder;
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", folder.Path().string());
    SingleInstanceLock lock;
    ASSERT_EQ(lock.Acquire("ZAV_V2_Updater"), State::Owned);
    EXPECT_TRUE(std::filesystem::exists(folder.Path() / "ZAV_V2_Updater.lock"));
    EXPECT_EQ(AttemptInChild(folder.Path() / "ZAV_V2_Updater.lock"), State::HeldElsewhere);
}

TEST(SingleInstanceLock, UnavailableWhenTheFileCannotBeMade) {
    test::TempFolder folder;
    SingleInstanceLock lock;
    EXPECT_EQ(lock.AcquireFile(folder.Path() / "missing" / "ZAV_V2_Updater.lock"),
              State::Unavailable);
}

}  // namespace
}  // namespace zav::platform
