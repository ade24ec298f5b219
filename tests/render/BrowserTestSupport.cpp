#include "tests/render/BrowserTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "render/BrowserProcess.h"

namespace veilex::testing {

void BrowserTest::SetUp() {
  if (!NginxPeer::Installed()) GTEST_SKIP() << "nginx-light is not installed (scripts/install-deps)";
  if (FindBrowser("").empty()) GTEST_SKIP() << "chromium is not installed (scripts/install-deps)";
  // The browser's home is made under TMPDIR: here, where the test sees it.
  if (const char* tmpdir = getenv("TMPDIR")) {
    had_tmpdir_ = true;
    saved_tmpdir_ = tmpdir;
  }
  setenv("TMPDIR", scratch_.Path().c_str(), 1);
  nginx_ = std::make_unique<NginxPeer>();
  ASSERT_TRUE(nginx_->Start()) << nginx_->Error();
}

void BrowserTest::TearDown() { RestoreTmpdir(); }

void BrowserTest::RestoreTmpdir() {
  if (had_tmpdir_) {
    setenv("TMPDIR", saved_tmpdir_.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TRenderRequest BrowserTest::Request(const std::string& path, int total_ms) const {
  TRenderRequest request;
  request.Address = nginx_->Address(path);
  request.TotalMs = total_ms;
  return request;
}

std::vector<std::string> BrowserTest::BrowserCommandLines() const {
  std::vector<std::string> lines;
  std::error_code error;
  for (std::filesystem::directory_iterator entry("/proc", error), end; !error && entry != end;
       entry.increment(error)) {
    std::ifstream file(entry->path() / "cmdline", std::ios::binary);
    std::string command((std::istreambuf_iterator<char>(file)), {});
    if (command.find(scratch_.Path()) == std::string::npos) continue;
    for (char& c : command) {
      if (c == '\0') c = ' ';
    }
    lines.push_back(std::move(command));
  }
  return lines;
}

int BrowserTest::ProcessesLeft(int ms) const {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const int left = static_cast<int>(BrowserCommandLines().size());
    if (left == 0 || std::chrono::steady_clock::now() > until) return left;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string ScriptedPage(const std::string& script) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>t</title></head>"
         "<body><div id=\"out\"></div><script>" +
         script + "</script></body></html>";
}

}  // namespace veilex::testing
