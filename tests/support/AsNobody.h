// Runs the current GoogleTest test again as the user "nobody", for checks
// that permission bits decide: root ignores them, and tests often run as
// root. Header-only, for GoogleTest programs; main thread.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

namespace veilex::testing {

// Call first in a test that needs an ordinary user. As root, runs this test
// alone in a child `setpriv --reuid=nobody --regid=nogroup --clear-groups`
// and the calling test returns at once, the child's verdict being the
// test's (a failure carries its output; a child that cannot run as nobody
// skips the test, saying why). Not root: does nothing, and the test runs its
// checks itself.
#define VEILEX_RUN_AS_NOBODY()                          \
  do {                                                  \
    bool rerun_ = false;                                \
    ::veilex::testing::RerunAsNobodyIfRoot(rerun_);     \
    if (rerun_) return;                                 \
  } while (0)

inline void RerunAsNobodyIfRoot(bool& rerun) {
  rerun = ::geteuid() == 0;
  if (!rerun) return;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    ADD_FAILURE() << "cannot find this test program";
    return;
  }
  self[n] = '\0';
  const std::string command = "setpriv --reuid=nobody --regid=nogroup --clear-groups '" + std::string(self) +
                              "' --gtest_filter='" + test->test_suite_name() + "." + test->name() +
                              "' --gtest_also_run_disabled_tests 2>&1";
  FILE* child = ::popen(command.c_str(), "r");
  if (child == nullptr) {
    ADD_FAILURE() << "cannot start " << command;
    return;
  }
  std::string output;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, child)) > 0;) output.append(buffer, got);
  const int status = ::pclose(child);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (code == 0 && output.find("[  PASSED  ] 1 test") != std::string::npos) return;
  if (code == 0 && output.find("[  SKIPPED ]") != std::string::npos) {
    GTEST_SKIP() << "skipped as nobody:\n" << output;
  }
  // setpriv itself failing (no such user, no setpriv) or the program not
  // reachable by nobody: the check cannot be made here.
  if (code == 126 || code == 127 || output.find("setpriv:") != std::string::npos) {
    GTEST_SKIP() << "cannot run as nobody here (" << code << "):\n" << output;
  }
  ADD_FAILURE() << "as nobody, exit code " << code << ":\n" << output;
}

}  // namespace veilex::testing
