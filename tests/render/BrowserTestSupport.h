// What the browser tests share: an nginx serving the pages, a scratch
// directory the browser's home goes into (so that a test sees whether it
// was removed), and a look at the processes still running there.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "render/PageRender.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/TempFiles.h"

namespace veilex::testing {

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Puts back the TMPDIR the test started with.
  void RestoreTmpdir();

  // A request for `path` on the nginx, with a total bound of `total_ms`.
  TRenderRequest Request(const std::string& path, int total_ms = 20000) const;
  // The command lines (arguments joined by spaces) of the processes that
  // name the scratch directory: the browser and its helpers.
  std::vector<std::string> BrowserCommandLines() const;
  // How many of them there are; waits up to `ms` for them to be gone.
  int ProcessesLeft(int ms = 2000) const;
  // Entries left in the scratch directory (the browser's home is removed).
  size_t FilesLeft() const { return scratch_.Entries().size(); }

  std::unique_ptr<NginxPeer> nginx_;
  TempDir scratch_;
  std::string saved_tmpdir_;
  bool had_tmpdir_ = false;
};

// A page whose body is written by its script, from a variable of `data.js`.
std::string ScriptedPage(const std::string& script);

}  // namespace veilex::testing
