// Feeds arbitrary bytes to the HTTP client as everything a server sends on
// one connection, through an in-memory transport that hands them over in
// pieces, and fetches two pages over it with the limits of a page check. A
// fetch must end with a page or with one of the client's own exceptions
// (anything else escapes and is reported); a page framed by a length has
// exactly that length.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "http/TNetHTTP.h"
#include "net/NetExceptions.h"
#include "net/TNetIOHandler.h"
#include "rtl/RtlExceptions.h"

namespace {

using namespace veilex;

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "fuzz_http_response: %s\n", what);
  std::abort();
}

// A transport over a script: every receive returns the next piece (its size
// from the script's first byte), then the close; sends are taken whole.
class TScriptedIOHandler : public TNetIOHandler {
 public:
  TScriptedIOHandler(const uint8_t* data, size_t size)
      : piece_(size > 0 ? 1 + data[0] % 64 : 1), bytes_(reinterpret_cast<const char*>(data), size) {
    if (!bytes_.empty()) bytes_.erase(0, 1);
  }
  void Open() override {}
  void Close() override { open_ = false; }
  void ConnectClient(const std::string&, int, const std::string&, int, int, int, int) override {
    // The one server connection: once closed, there is no other.
    if (used_) throw ENetConnectException("Connexion refusée");
    used_ = true;
    open_ = true;
  }
  bool Connected() override { return open_; }
  bool Readable(int) override { return open_; }
  int Recv(void* buffer, int length) override {
    if (!open_) throw ENetClosedSocket();
    const size_t n = std::min({static_cast<size_t>(length), piece_, bytes_.size() - at_});
    std::copy_n(bytes_.data() + at_, n, static_cast<char*>(buffer));
    at_ += n;
    return static_cast<int>(n);
  }
  int Send(const void*, int length) override {
    if (!open_) throw ENetClosedSocket();
    return length;
  }

 private:
  size_t piece_;
  std::string bytes_;
  size_t at_ = 0;
  bool open_ = false;
  bool used_ = false;
};

void FetchOnce(TNetHTTP& http, const char* address) {
  try {
    const std::string page = http.Get(address);
    TNetHTTPResponse& response = http.Response();
    if (response.BodyFraming() == TNetBodyFraming::ByLength && response.ResponseCode() / 100 == 2 &&
        response.ResponseCode() != 204 &&
        page.size() != static_cast<size_t>(std::max(response.ContentLength(), 0))) {
      Die("a page framed by a length has another size");
    }
  } catch (const ENetException&) {
  } catch (const EConvertError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TScriptedIOHandler transport(data, size);
  TNetHTTP http;
  http.SetIOHandler(&transport);
  // A check's bounds, small enough for the fuzzer's inputs to reach them.
  http.ReadTimeout = 1000;
  http.MaxLineLength = 1024;
  http.AllowCookies = true;
  FetchOnce(http, "http://fuzz.example/a/page.html");
  FetchOnce(http, "http://fuzz.example/a/next.html");
  if (http.CookieManager() != nullptr) {
    const std::string cookies = http.CookieManager()->BuildCookieHeader(TNetURI("http://fuzz.example/a/"));
    for (char c : cookies) {
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
        Die("a control byte in a Cookie line");
    }
  }
  http.SetIOHandler(nullptr);
  return 0;
}
