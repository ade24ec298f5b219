// ReadStream of 200 MB from a loopback sender thread, against a plain recv
// loop over the same kind of transfer in the same run. Both deliver into a
// memory stream reserved ahead; the best of several alternating rounds counts.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "net/TNetTCPClient.h"
#include "rtl/Streams.h"

using namespace veilex;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int64_t kTotal = 200LL << 20;
constexpr int kPiece = 524288;  // the HTTP client's receive size
constexpr int kRounds = 5;

// Sends kTotal bytes to the first client of a loopback listener, then closes.
class Sender {
 public:
  Sender() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      std::vector<char> block(1 << 20);
      for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
      const int fd = accept(listener_, nullptr, nullptr);
      for (int64_t sent = 0; sent < kTotal;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(kTotal - sent, static_cast<int64_t>(block.size())));
        const ssize_t done = send(fd, block.data(), n, MSG_NOSIGNAL);
        if (done <= 0) break;
        sent += done;
      }
      close(fd);
    });
  }
  ~Sender() {
    thread_.join();
    close(listener_);
  }
  int Port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Check(const TMemoryStream& stream) {
  if (stream.Size() != kTotal || stream.Memory()[kTotal - 1] != static_cast<char>(((kTotal - 1) % (1 << 20)) * 31 + 7)) {
    std::fprintf(stderr, "transfer damaged: %lld bytes\n", static_cast<long long>(stream.Size()));
    std::exit(1);
  }
}

// recv into a piece buffer, append to the stream.
double PlainLoop() {
  Sender sender;
  TMemoryStream stream;
  stream.Reserve(kTotal);
  std::vector<char> piece(kPiece);
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(sender.Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  const auto start = Clock::now();
  for (int64_t got = 0; got < kTotal;) {
    const ssize_t n = recv(fd, piece.data(), static_cast<size_t>(std::min<int64_t>(kPiece, kTotal - got)), 0);
    if (n <= 0) break;
    stream.Write(piece.data(), n);
    got += n;
  }
  const double seconds = Seconds(Clock::now() - start);
  close(fd);
  Check(stream);
  return seconds;
}

double ReadStream() {
  Sender sender;
  TMemoryStream stream;
  stream.Reserve(kTotal);
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(sender.Port());
  client.RecvBufferSize = kPiece;
  client.Connect();
  const auto start = Clock::now();
  client.ReadStream(&stream, kTotal);
  const double seconds = Seconds(Clock::now() - start);
  client.Disconnect();
  Check(stream);
  return seconds;
}

}  // namespace

int main() {
  double plain = 1e9, layer = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    plain = std::min(plain, PlainLoop());
    layer = std::min(layer, ReadStream());
  }
  const double megabytes = static_cast<double>(kTotal) / (1 << 20);
  std::printf("ReadStream %lld MB over loopback (best of %d rounds, %d-byte receives)\n",
              static_cast<long long>(kTotal >> 20), kRounds, kPiece);
  std::printf("  ReadStream into a memory stream       %8.1f ms  %7.0f MB/s\n", layer * 1e3, megabytes / layer);
  std::printf("  baseline: recv loop + stream write    %8.1f ms  %7.0f MB/s\n", plain * 1e3, megabytes / plain);
  std::printf("  ratio ReadStream / baseline           %8.2f    (goal <= 1.20)\n", layer / plain);
  return 0;
}
