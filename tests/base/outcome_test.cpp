// The exit codes deployment systems read: one per outcome, each with the log's reason. That
// MemoryError ends the process with the failure code is run by tests/build/memory_check.cpp.
#include <gtest/gtest.h>

#include <cwchar>
#include <set>

#include "base/outcome.h"

TEST(Outcome, EachHasItsInstallerExitCodeAndAReason) {
  const struct {
    Outcome outcome;
    unsigned code;
  } cases[] = {
      {Outcome::kDone, 0},
      {Outcome::kCancelled, 1},
      {Outcome::kNoRights, 5},
      {Outcome::kDeclined, 1602},
      {Outcome::kIncomplete, 1603},
      {Outcome::kAnotherCopyRuns, 1618},
      {Outcome::kLogFailed, 1622},
      {Outcome::kInvalidCommandLine, 1639},
      {Outcome::kRestartNeeded, 3010},
  };
  std::set<std::wstring> reasons;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(ExitCodeOf(c.outcome), c.code);
    ASSERT_NE(ReasonOf(c.outcome), nullptr);
    EXPECT_GT(std::wcslen(ReasonOf(c.outcome)), 3u);
    reasons.insert(ReasonOf(c.outcome));
  }
  EXPECT_EQ(reasons.size(), sizeof cases / sizeof cases[0]);
}
