// One headless browser process and what it needs on disk: a fresh
// directory that is its home and profile, removed with everything in it when
// the process is gone; the process itself in a process group of its own,
// its DevTools channel on descriptors 3 (commands in) and 4 (replies and
// events out), its error output kept in a file of that directory. The
// destructor kills the whole group and reaps the process, so that no browser
// outlives its fetch. One thread uses an object at a time.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "render/RenderSettings.h"

namespace veilex {

// The browser to run: `configured` when given (as it is, even when it is not
// there, so that its absence is told), else the first of Debian's
// /usr/lib/chromium/chromium and "chromium", "chromium-browser" in PATH that
// can be run; "" when there is none.
std::string FindBrowser(const std::string& configured);

// A directory made by mkdtemp under $TMPDIR (or /tmp), readable by its owner
// only, removed whole by the destructor.
class TBrowserHome {
 public:
  TBrowserHome();
  ~TBrowserHome();
  TBrowserHome(const TBrowserHome&) = delete;
  TBrowserHome& operator=(const TBrowserHome&) = delete;

  // "" when the directory could not be made.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class TBrowserProcess {
 public:
  TBrowserProcess() = default;
  // Kill().
  ~TBrowserProcess();
  TBrowserProcess(const TBrowserProcess&) = delete;
  TBrowserProcess& operator=(const TBrowserProcess&) = delete;

  // Starts the browser `path` headless on about:blank, with the home and
  // profile `home` and an environment of its own (see BrowserEnvironment).
  // False, with the reason in `error`, when it could not be started.
  bool Start(const std::string& path, const TBrowserHome& home, std::string& error, const TBrowserProxy& proxy = {});

  // Our ends of the DevTools channel: commands are written to CommandFd,
  // replies read from ReplyFd. Both are non-blocking sockets; -1 before
  // Start.
  int CommandFd() const { return command_fd_; }
  int ReplyFd() const { return reply_fd_; }
  pid_t Pid() const { return pid_; }

  // True once the process has ended (its group is then killed and the
  // process reaped); `exit_code` is its exit code, or 128 + the signal that
  // ended it.
  bool Ended(int& exit_code);
  // Kills the process group and reaps the process; closes the channel.
  void Kill();
  // The last line the browser wrote on its error output that says
  // something (at most a few hundred bytes, from the end of the file).
  std::string LastErrorLine() const;

 private:
  pid_t pid_ = -1;
  int command_fd_ = -1;
  int reply_fd_ = -1;
  std::string error_file_;
};

// The command line of the browser after its path: headless, the DevTools
// pipe, the profile in `profile_dir`, every background service off, and
// --no-sandbox only when `as_root` (the browser refuses to run as root with
// its sandbox on), and `proxy` (none when its rules are empty).
std::vector<std::string> BrowserArguments(const std::string& profile_dir, bool as_root,
                                          const TBrowserProxy& proxy = {});

// The browser's environment: PATH, the locale and time zone variables of
// ours, and HOME and the XDG directories inside `home_dir`, so that the
// browser neither reads nor writes anything under the user's home; no
// display and no session bus.
std::vector<std::string> BrowserEnvironment(const std::string& home_dir);

}  // namespace veilex
