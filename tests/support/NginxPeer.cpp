#include "tests/support/NginxPeer.h"
#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace veilex::testing {

namespace {

namespace fs = std::filesystem;

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
  fs::permissions(
      path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

}  // namespace

bool NginxPeer::Installed() { return access(kBinary, X_OK) == 0; }

NginxPeer::NginxPeer() {
  char name[] = "/tmp/veilex-nginx-XXXXXX";
  if (mkdtemp(name) != nullptr) dir_ = name;
  // The workers may run as another user: they must be able to read the files.
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  fs::create_directories(dir_ + "/tmp");
  WriteText(dir_ + "/htpasswd", "user:{PLAIN}secret\n");
}

NginxPeer::~NginxPeer() {
  Stop();
  std::error_code ignored;
  if (!dir_.empty()) fs::remove_all(dir_, ignored);
}

void NginxPeer::WriteFile(const std::string& path, const std::string& contents) const {
  const fs::path file = fs::path(dir_) / "www" / fs::path(path).relative_path();
  WriteText(file, contents);
  // Each file written gets a time of its own, as a file changed on a real
  // server does: a rewrite within the same second must not keep the
  // validators (ETag, Last-Modified) of what it replaced.
  static std::atomic<long> next_time{static_cast<long>(time(nullptr)) - 1000000};
  const timespec times[2] = {{next_time.fetch_add(1), 0}, {next_time.fetch_add(1), 0}};
  utimensat(AT_FDCWD, file.c_str(), times, 0);
  for (fs::path p = file.parent_path(); p.string().size() > dir_.size(); p = p.parent_path()) {
    fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  }
}

std::string NginxPeer::Address(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void NginxPeer::EnableTls(const std::string& cert_file, const std::string& key_file) {
  cert_file_ = cert_file;
  key_file_ = key_file;
}

std::string NginxPeer::TlsAddress(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(tls_port_) + path;
}

std::string NginxPeer::AccessLog() const {
  std::ifstream log(dir_ + "/access.log");
  return std::string(std::istreambuf_iterator<char>(log), {});
}

bool NginxPeer::Start() {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (TryStart()) return true;
  }
  return false;
}

bool NginxPeer::TryStart() {
  port_ = UnusedLoopbackPort();
  const std::string d = dir_;
  std::string tls_listen;
  if (!cert_file_.empty()) {
    tls_port_ = UnusedLoopbackPort();
    tls_listen =
        "    listen 127.0.0.1:" + std::to_string(tls_port_) + " ssl;\n" +
        (ipv6_ ? "    listen [::1]:" + std::to_string(tls_port_) + " ssl;\n" : "") + "    ssl_certificate " + cert_file_ +
        ";\n    ssl_certificate_key " + key_file_ +
        ";\n    location = /host { default_type text/plain; return 200 \"$http_host\"; }\n" +
        "    location = /to-https { return 301 https://127.0.0.1:" + std::to_string(tls_port_) +
        "/page.html; }\n    location = /to-http { return 302 http://127.0.0.1:" + std::to_string(port_) +
        "/page.html; }\n";
  }
  const std::string conf =
      "worker_processes 1;\n"
      "error_log " +
      d +
      "/error.log;\n"
      "pid " +
      d +
      "/nginx.pid;\n"
      "events { worker_connections 64; }\n"
      "http {\n"
      "  log_format veilex '$connection $request_uri $status';\n"
      "  access_log " +
      d +
      "/access.log veilex;\n"
      "  client_body_temp_path " +
      d +
      "/tmp/body;\n"
      "  proxy_temp_path " +
      d +
      "/tmp/proxy;\n"
      "  fastcgi_temp_path " +
      d +
      "/tmp/fastcgi;\n"
      "  uwsgi_temp_path " +
      d +
      "/tmp/uwsgi;\n"
      "  scgi_temp_path " +
      d +
      "/tmp/scgi;\n"
      "  types { text/html html; text/plain txt; application/javascript js; application/json json; }\n"
      "  default_type application/octet-stream;\n"
      "  server {\n"
      "    listen 127.0.0.1:" +
      std::to_string(port_) + ";\n" + (ipv6_ ? "    listen [::1]:" + std::to_string(port_) + ";\n" : "") +
      tls_listen + "    root " + d +
      "/www;\n"
      "    location = /moved { return 302 /index.html; }\n"
      "    location = /setcookie { add_header Set-Cookie \"veilex=ok; path=/\"; return 200 \"set\"; }\n"
      "    location = /echocookie { default_type text/plain; return 200 \"$http_cookie\"; }\n"
      "    location /private/ { auth_basic \"Veilex\"; auth_basic_user_file " +
      d +
      "/htpasswd; }\n"
      "    # Server-side includes make the length unknown: the body goes chunked.\n"
      "    location /chunked/ { ssi on; ssi_types *; }\n"
      "    location /gz/ { gzip on; gzip_types *; gzip_min_length 0; }\n"
      "  }\n"
      "}\n";
  WriteText(d + "/nginx.conf", conf);

  pid_ = fork();
  if (pid_ == 0) {
    // A test program that aborts never reaches the destructor: nginx goes
    // with it (the signal comes when the forking thread ends, and peers are
    // started from a test's own thread).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1) _exit(127);
    const std::string error_log = d + "/error.log";
    const std::string conf_path = d + "/nginx.conf";
    execl(kBinary, kBinary, "-p", d.c_str(), "-e", error_log.c_str(), "-c", conf_path.c_str(), "-g",
          "daemon off;", static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Accepts(port_) && (tls_port_ == 0 || Accepts(tls_port_))) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      std::ifstream log(d + "/error.log");
      error_.assign(std::istreambuf_iterator<char>(log), {});
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  error_ = "nginx did not listen within 5 s";
  Stop();
  return false;
}

void NginxPeer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
}

}  // namespace veilex::testing
