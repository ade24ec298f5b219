#include "tests/support/TlsTestPeer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace veilex::test {

namespace {

// Runs a program quietly; true when it ended with status 0 within 20 s.
bool Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  for (int i = 0; i < 2000; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return false;
}

// `alt_names`: the subjectAltName value, or "" for none.
void MakeCert(const std::string& cn, const std::string& alt_names, const std::string& cert,
              const std::string& key) {
  std::vector<std::string> args = {
      "openssl", "req",   "-x509",     "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
      "-nodes",  "-subj", "/CN=" + cn, "-days",   "1",  "-keyout",  key,
      "-out",    cert};
  if (!alt_names.empty()) args.insert(args.end(), {"-addext", "subjectAltName=" + alt_names});
  if (!Run(args)) {
    throw std::runtime_error("openssl req failed for " + cert);
  }
}

// The directory of the files, removed with them at exit.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/veilex_tls_XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TlsFiles MakeFiles() {
  static const TempDir temp_dir;
  const char* dir = temp_dir.Path().c_str();
  const std::string base = std::string(dir) + "/";
  TlsFiles files;
  files.ServerCert = base + "server.pem";
  files.ServerKey = base + "server.key";
  files.OtherCert = base + "other.pem";
  files.OtherKey = base + "other.key";
  files.EncryptedKey = base + "server-enc.key";
  files.Garbage = base + "garbage.pem";
  files.Missing = base + "missing.pem";
  MakeCert("127.0.0.1", "IP:127.0.0.1,DNS:localhost", files.ServerCert, files.ServerKey);
  MakeCert("Autre", "", files.OtherCert, files.OtherKey);
  if (!Run({"openssl", "pkey", "-in", files.ServerKey, "-aes128", "-passout",
            std::string("pass:") + kKeyPassword, "-out", files.EncryptedKey})) {
    throw std::runtime_error("openssl pkey failed");
  }
  std::ofstream(files.Garbage)
      << "-----BEGIN CERTIFICATE-----\nthis is no certificate\n-----END CERTIFICATE-----\n";
  return files;
}

// A key and a request for `cn` with `alt_names`, signed by the authority of
// `ca_dir` for the dates given as openssl ca takes them.
void MakeSignedCert(const std::string& ca_dir, const std::string& cn, const std::string& alt_names,
                    const std::string& start, const std::string& end, const std::string& cert,
                    const std::string& key) {
  const std::string request = cert + ".csr";
  if (!Run({"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-subj", "/CN=" + cn, "-addext", "subjectAltName=" + alt_names, "-keyout", key, "-out",
            request}) ||
      !Run({"openssl", "ca", "-batch", "-notext", "-config", ca_dir + "/ca.cnf", "-in", request, "-out", cert,
            "-startdate", start, "-enddate", end})) {
    throw std::runtime_error("openssl ca failed for " + cert);
  }
}

// A date openssl ca takes (YYYYMMDDHHMMSSZ), `days` from now.
std::string CaDate(int days) {
  const time_t when = time(nullptr) + static_cast<time_t>(days) * 86400;
  struct tm parts;
  gmtime_r(&when, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &parts);
  return text;
}

CaFiles MakeAuthorityFiles() {
  static const TempDir temp_dir;
  const std::string dir = temp_dir.Path();
  std::filesystem::create_directories(dir + "/issued");
  std::ofstream(dir + "/index.txt");
  std::ofstream(dir + "/serial") << "1000\n";
  CaFiles files;
  files.CaCert = dir + "/ca.pem";
  const std::string ca_key = dir + "/ca.key";
  std::ofstream(dir + "/ca.cnf") << "[ ca ]\ndefault_ca = test_ca\n"
                                    "[ test_ca ]\n"
                                    "database = "
                                 << dir
                                 << "/index.txt\n"
                                    "new_certs_dir = "
                                 << dir
                                 << "/issued\n"
                                    "serial = "
                                 << dir
                                 << "/serial\n"
                                    "certificate = "
                                 << files.CaCert
                                 << "\n"
                                    "private_key = "
                                 << ca_key
                                 << "\n"
                                    "default_md = sha256\n"
                                    "policy = any_name\n"
                                    "unique_subject = no\n"
                                    "copy_extensions = copy\n"
                                    "[ any_name ]\ncommonName = supplied\n";
  if (!Run({"openssl",
            "req",
            "-x509",
            "-newkey",
            "ec",
            "-pkeyopt",
            "ec_paramgen_curve:prime256v1",
            "-nodes",
            "-subj",
            "/CN=Veilex Test CA",
            "-days",
            "2",
            "-addext",
            "basicConstraints=critical,CA:TRUE",
            "-addext",
            "keyUsage=critical,keyCertSign,cRLSign",
            "-keyout",
            ca_key,
            "-out",
            files.CaCert})) {
    throw std::runtime_error("openssl req failed for the test authority");
  }
  files.GoodCert = dir + "/good.pem";
  files.GoodKey = dir + "/good.key";
  files.OtherHostCert = dir + "/otherhost.pem";
  files.OtherHostKey = dir + "/otherhost.key";
  files.ExpiredCert = dir + "/expired.pem";
  files.ExpiredKey = dir + "/expired.key";
  MakeSignedCert(dir, "127.0.0.1", "IP:127.0.0.1,IP:::1,DNS:localhost", CaDate(-1), CaDate(1), files.GoodCert,
                 files.GoodKey);
  MakeSignedCert(dir, "autre.exemple", "DNS:autre.exemple", CaDate(-1), CaDate(1), files.OtherHostCert,
                 files.OtherHostKey);
  MakeSignedCert(dir, "127.0.0.1", "IP:127.0.0.1", "20200101000000Z", "20200131000000Z", files.ExpiredCert,
                 files.ExpiredKey);
  return files;
}

}  // namespace

const CaFiles& AuthorityFiles() {
  static const CaFiles files = MakeAuthorityFiles();
  return files;
}

const TlsFiles& Files() {
  static const TlsFiles files = MakeFiles();
  return files;
}

OpenSSLServer::OpenSSLServer(const std::vector<std::string>& extra) {
  const TlsFiles& files = Files();
  char pattern[] = "/tmp/veilex_s_server_XXXXXX";
  const int log_fd = mkstemp(pattern);
  if (log_fd == -1) return;
  log_ = pattern;
  std::vector<std::string> args = {"openssl", "s_server",       "-accept", "127.0.0.1:0",
                                   "-cert",   files.ServerCert, "-key",    files.ServerKey,
                                   "-rev",    "-naccept",       "1"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, log_fd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const int rc = posix_spawnp(&pid_, "openssl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(log_fd);
  if (rc != 0) {
    pid_ = -1;
    return;
  }
  // The server writes "ACCEPT 127.0.0.1:<port>" once it listens.
  for (int i = 0; i < 500 && port_ == 0; ++i) {
    std::ifstream log(log_);
    std::string line;
    while (std::getline(log, line)) {
      if (line.rfind("ACCEPT 127.0.0.1:", 0) == 0) port_ = std::atoi(line.c_str() + 17);
    }
    if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void OpenSSLServer::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

OpenSSLServer::~OpenSSLServer() {
  Kill();
  if (!log_.empty()) unlink(log_.c_str());
}

}  // namespace veilex::test
