// fetch URL [COUNT] [--string|--page]: GETs URL COUNT times (1 by default) with the
// link store's own client (a store made in a scratch directory), so an https
// URL is verified exactly as a page check verifies it (the system's trust
// store, or SSL_CERT_FILE / SSL_CERT_DIR; TLS 1.2 at least), and prints the bytes
// received and the elapsed seconds. Bodies go to a stream that counts and
// drops them, as curl -o /dev/null does; with --string each body is taken as
// the application takes it, as the string Get returns; with --page each GET
// is a page check's (compressed pages asked for and decoded, redirects
// followed), the decoded page kept as the check keeps it.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "http/TNetHTTP.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace {

// Counts what is written and keeps nothing.
class TCountingStream : public veilex::TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override {
    size_ += count;
    return count;
  }
  int64_t Seek(int64_t, veilex::TSeekOrigin) override { return size_; }
  int64_t Size() const override { return size_; }
  void SetSize(int64_t size) override { size_ = size; }

 private:
  int64_t size_ = 0;
};

// Runs the GETs and prints what they brought; 1 when one failed.
int Fetch(veilex::TData& data, const std::string& url, long count, bool as_string, bool as_page) {
  veilex::TNetHTTP& http = data.HTTP;
  long long bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  try {
    for (long i = 0; i < count; ++i) {
      if (as_page) {
        const veilex::TFetchResult page = veilex::FetchPage(http, url, data.CheckLimits);
        if (!page.Ok) throw std::runtime_error(page.Reason);
        bytes += static_cast<long long>(page.Body.size());
      } else if (as_string) {
        bytes += static_cast<long long>(http.Get(url).size());
      } else {
        TCountingStream body;
        http.Get(url, &body);
        bytes += body.Size();
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fetch: %s\n", e.what());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%lld bytes in %.3f s\n", bytes, seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fetch URL [COUNT] [--string|--page]\n");
    return 2;
  }
  const std::string url = argv[1];
  const long count = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1;
  const bool as_string = argc > 3 && std::string(argv[3]) == "--string";
  const bool as_page = argc > 3 && std::string(argv[3]) == "--page";
  char scratch[] = "/tmp/veilex-fetch-XXXXXX";
  if (mkdtemp(scratch) == nullptr) {
    std::perror("fetch: mkdtemp");
    return 1;
  }
  int status = 0;
  {
    veilex::TData data(scratch);
    status = Fetch(data, url, count, as_string, as_page);
  }
  std::remove((std::string(scratch) + "/" + veilex::TData::kDataFileName).c_str());
  std::remove(scratch);
  return status;
}
