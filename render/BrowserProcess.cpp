#include "render/BrowserProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace veilex {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDebianBrowser = "/usr/lib/chromium/chromium";
constexpr const char* kBrowserNames[] = {"chromium", "chromium-browser"};

bool Runnable(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string InPath(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    if (end > start) {
      const std::string candidate = dirs.substr(start, end - start) + "/" + name;
      if (Runnable(candidate)) return candidate;
    }
    start = end + 1;
  }
  return "";
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// A connected pair of stream sockets, both close-on-exec.
bool SocketPair(int fds[2]) { return socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0; }

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::string FindBrowser(const std::string& configured) {
  if (!configured.empty()) return Runnable(configured) ? configured : "";
  if (Runnable(kDebianBrowser)) return kDebianBrowser;
  for (const char* name : kBrowserNames) {
    std::string found = InPath(name);
    if (!found.empty()) return found;
  }
  return "";
}

TBrowserHome::TBrowserHome() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/veilex-browser-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TBrowserHome::~TBrowserHome() {
  if (path_.empty()) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::vector<std::string> BrowserArguments(const std::string& profile_dir, bool as_root,
                                          const TBrowserProxy& proxy) {
  std::vector<std::string> arguments = {
      "--headless",
      "--remote-debugging-pipe",
      "--user-data-dir=" + profile_dir,
      "--no-first-run",
      "--no-default-browser-check",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-default-apps",
      "--disable-extensions",
      "--disable-sync",
      "--disable-breakpad",
      "--disable-crash-reporter",
      "--disable-gpu",
      // A small /dev/shm (containers) makes the browser crash on big pages.
      "--disable-dev-shm-usage",
      "--disable-features=Translate,MediaRouter,OptimizationHints,AutofillServerCommunication",
      "--mute-audio",
      "--hide-scrollbars",
      "--password-store=basic",
      "--use-mock-keychain",
  };
  // The browser's own proxy settings (the desktop's) are never read: the
  // proxy is the one the program's client uses, or none.
  if (proxy.Rules.empty()) {
    arguments.push_back("--no-proxy-server");
  } else {
    arguments.push_back("--proxy-server=" + proxy.Rules);
    if (!proxy.Bypass.empty()) arguments.push_back("--proxy-bypass-list=" + proxy.Bypass);
  }
  if (as_root) arguments.push_back("--no-sandbox");
  arguments.push_back("about:blank");
  return arguments;
}

std::vector<std::string> BrowserEnvironment(const std::string& home_dir) {
  std::vector<std::string> environment = {
      "HOME=" + home_dir,
      "XDG_CONFIG_HOME=" + home_dir + "/.config",
      "XDG_CACHE_HOME=" + home_dir + "/.cache",
      "XDG_DATA_HOME=" + home_dir + "/.local/share",
      "XDG_RUNTIME_DIR=" + home_dir,
      "TMPDIR=" + home_dir,
  };
  for (const char* name : {"PATH", "LANG", "LC_ALL", "LC_CTYPE", "TZ"}) {
    if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
  }
  return environment;
}

TBrowserProcess::~TBrowserProcess() { Kill(); }

bool TBrowserProcess::Start(const std::string& path, const TBrowserHome& home, std::string& error,
                            const TBrowserProxy& proxy) {
  if (home.Path().empty()) {
    error = std::string("r\xc3\xa9pertoire temporaire impossible \xc3\xa0 cr\xc3\xa9"
                        "er : ") +
            std::strerror(errno);
    return false;
  }
  int commands[2] = {-1, -1};  // [0] the browser reads, [1] we write
  int replies[2] = {-1, -1};   // [0] we read, [1] the browser writes
  if (!SocketPair(commands) || !SocketPair(replies)) {
    error = std::strerror(errno);
    CloseFd(commands[0]);
    CloseFd(commands[1]);
    return false;
  }
  error_file_ = home.Path() + "/browser-errors.txt";
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int error_fd = open(error_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

  // Everything the child needs is made before fork: after it, only calls
  // that are safe in a copy of a threaded process.
  std::vector<std::string> argv_texts = {path};
  for (std::string& argument : BrowserArguments(home.Path() + "/profile", geteuid() == 0, proxy))
    argv_texts.push_back(std::move(argument));
  std::vector<std::string> env_texts = BrowserEnvironment(home.Path());
  std::vector<char*> argv = Pointers(argv_texts);
  std::vector<char*> envp = Pointers(env_texts);
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    // Should the program die, the browser dies with it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // Move the channel out of the way of 0-4 before placing it: dup2 onto
    // a descriptor also clears its close-on-exec flag.
    const int in = fcntl(commands[0], F_DUPFD, 10);
    const int out = fcntl(replies[1], F_DUPFD, 10);
    if (in < 0 || out < 0 || null_fd < 0) _exit(127);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(error_fd >= 0 ? error_fd : null_fd, 2);
    dup2(in, 3);
    dup2(out, 4);
    if (syscall(SYS_close_range, 5U, ~0U, 0U) != 0) {
      for (int fd = 5; fd < 1024; ++fd) close(fd);
    }
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  const int fork_error = errno;
  CloseFd(commands[0]);
  CloseFd(replies[1]);
  if (null_fd >= 0) close(null_fd);
  if (error_fd >= 0) close(error_fd);
  if (pid < 0) {
    CloseFd(commands[1]);
    CloseFd(replies[0]);
    error = std::strerror(fork_error);
    return false;
  }
  // Also from here, so that a kill right after fork finds the group.
  setpgid(pid, pid);
  pid_ = pid;
  command_fd_ = commands[1];
  reply_fd_ = replies[0];
  if (!SetNonBlocking(command_fd_) || !SetNonBlocking(reply_fd_)) {
    error = std::strerror(errno);
    Kill();
    return false;
  }
  return true;
}

bool TBrowserProcess::Ended(int& exit_code) {
  if (pid_ <= 0) return true;
  // Looked at without reaping: while the browser is unreaped its number
  // cannot go to another process, so its group may still be killed.
  siginfo_t info{};
  int got;
  do {
    got = waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
  } while (got < 0 && errno == EINTR);
  if (got == 0 && info.si_pid == 0) return false;
  exit_code = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
  Kill();
  return true;
}

void TBrowserProcess::Kill() {
  if (pid_ > 0) {
    // The renderers and helpers share the group; the browser itself too in
    // case it has left it.
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  CloseFd(command_fd_);
  CloseFd(reply_fd_);
}

std::string TBrowserProcess::LastErrorLine() const {
  std::ifstream file(error_file_, std::ios::binary | std::ios::ate);
  if (!file) return "";
  constexpr std::streamoff kTail = 4096;
  const std::streamoff size = file.tellg();
  file.seekg(size > kTail ? size - kTail : 0);
  std::string tail((std::istreambuf_iterator<char>(file)), {});
  // Lines that only report the missing session bus say nothing useful.
  std::string best;
  size_t start = 0;
  while (start < tail.size()) {
    size_t end = tail.find('\n', start);
    if (end == std::string::npos) end = tail.size();
    const std::string line = tail.substr(start, end - start);
    if (!line.empty() && line.find("dbus") == std::string::npos) best = line;
    start = end + 1;
  }
  return best.substr(0, 300);
}

}  // namespace veilex
