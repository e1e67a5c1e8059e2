// The start directory's lock: one holder at a time, gone with its holder however that ends.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "korinbo/directory_lock.h"
#include "korinbo/test/temp_dir.h"

namespace korinbo {
namespace {

using Outcome = DirectoryLock::Outcome;

TEST(DirectoryLock, OneHolderAtATimeAndFreeOnceItGoes) {
  test::TempDir dir;
  {
    const DirectoryLock first = DirectoryLock::TryTake(dir.path(), "korinbo");
    ASSERT_EQ(first.outcome(), Outcome::kTaken);
    const DirectoryLock second = DirectoryLock::TryTake(dir.path(), "korinbo-fetch");
    EXPECT_EQ(second.outcome(), Outcome::kBusy);
    EXPECT_EQ(second.holder(), "korinbo " + std::to_string(::getpid()));
  }
  EXPECT_EQ(DirectoryLock::TryTake(dir.path(), "korinbo").outcome(), Outcome::kTaken);
}

// A holder that is killed leaves the file behind but no lock in it.
TEST(DirectoryLock, AKilledHolderLeavesNoLock) {
  test::TempDir dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const DirectoryLock lock = DirectoryLock::TryTake(dir.path(), "korinbo");
    const char byte = lock.outcome() == Outcome::kTaken ? 'y' : 'n';
    [[maybe_unused]] const ssize_t written = ::write(ready[1], &byte, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(byte, 'y');

  const DirectoryLock while_held = DirectoryLock::TryTake(dir.path(), "korinbo");
  EXPECT_EQ(while_held.outcome(), Outcome::kBusy);
  EXPECT_EQ(while_held.holder(), "korinbo " + std::to_string(child));

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / kDirectoryLockName));
  EXPECT_EQ(DirectoryLock::TryTake(dir.path(), "korinbo").outcome(), Outcome::kTaken);
}

TEST(DirectoryLock, AFolderWithoutRoomForTheFileHasNoLock) {
  test::TempDir dir;
  EXPECT_EQ(DirectoryLock::TryTake(dir.path() / "missing", "korinbo").outcome(), Outcome::kNoLockFile);
}

}  // namespace
}  // namespace korinbo
