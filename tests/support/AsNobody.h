// Runs the current GoogleTest test again as the user "nobody", for checks
// that permission bits decide: root ignores them, and tests often run as
// root. Header-only, for GoogleTest programs; main thread.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
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
  // The output goes to a file rather than a pipe: a process the test leaves
  // behind (a browser's crash handler) could hold a pipe open, and reading
  // it to its end would then wait for that process.
  char output_file[] = "/tmp/veilex-as-nobody-XXXXXX";
  const int output_fd = ::mkstemp(output_file);
  if (output_fd < 0) {
    ADD_FAILURE() << "cannot make a file for the child's output";
    return;
  }
  ::close(output_fd);
  const std::string command = "setpriv --reuid=nobody --regid=nogroup --clear-groups '" + std::string(self) +
                              "' --gtest_filter='" + test->test_suite_name() + "." + test->name() +
                              "' --gtest_also_run_disabled_tests >'" + output_file + "' 2>&1 </dev/null";
  const int status = std::system(command.c_str());
  std::string output;
  if (FILE* file = std::fopen(output_file, "rb")) {
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) output.append(buffer, got);
    std::fclose(file);
  }
  ::unlink(output_file);
  if (status == -1) {
    ADD_FAILURE() << "cannot start " << command;
    return;
  }
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
