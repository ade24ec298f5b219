#include "net/TNetTCPConnection.h"

#include <arpa/inet.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <vector>

#include "net/NetExceptions.h"
#include "net/TNetConnectionIntercept.h"
#include "net/TNetIOHandlerSocket.h"

namespace veilex {

namespace {

constexpr int kAborted = 103;   // connection aborted by the software
constexpr int kShutdown = 108;  // send or receive after shutdown
constexpr int kReset = 104;     // connection reset by the peer

const std::string kLineFeed = "\n";

// A count announced by the peer may be a lie: the stream is sized ahead for
// at most this many bytes, and grows beyond as bytes really arrive.
constexpr int64_t kMaxPresize = 64 << 20;

// Offset of the first occurrence of `needle` in the `length` bytes at
// `haystack`, or -1.
int64_t FindTerminator(const char* haystack, int64_t length, const std::string& needle) {
  const void* hit = needle.size() == 1
                        ? std::memchr(haystack, needle[0], static_cast<size_t>(length))
                        : memmem(haystack, static_cast<size_t>(length), needle.data(), needle.size());
  return hit == nullptr ? -1 : static_cast<const char*>(hit) - haystack;
}

// Makes room for `count` more bytes after the position. A memory stream only
// reserves them: growing its size would first fill them with zeros.
void PresizeStream(TStream* stream, int64_t count) {
  const int64_t position = stream->Position();
  if (auto* memory = dynamic_cast<TMemoryStream*>(stream)) {
    memory->Reserve(position + count);
    return;
  }
  stream->SetSize(position + count);
  stream->SetPosition(position);
}

void MaskTo7Bits(char* bytes, int64_t count) {
  for (int64_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(bytes[i] & 0x7F);
}

}  // namespace

TNetTCPConnection::TNetTCPConnection() {
  // Read progress counts when the reader consumes bytes, not when they arrive.
  input_buffer_.OnBytesRemoved = [this](TNetSimpleBuffer*, int64_t bytes) { DoWork(TWorkMode::wmRead, bytes); };
}

TNetTCPConnection::~TNetTCPConnection() {
  try {
    DropSocket();
  } catch (...) {
    // An intercept's handler failing during destruction has no one to tell.
  }
  FreeOwnHandler();
}

// ---- handler and intercept ---------------------------------------------------

void TNetTCPConnection::SetIOHandler(TNetIOHandler* io_handler) {
  if (io_handler == io_handler_) return;
  if (own_io_handler_ != nullptr && io_handler_ == own_io_handler_.get()) {
    FreeOwnHandler();
    drop_handler_on_disconnect_ = false;
  } else if (io_handler_ != nullptr) {
    RemoveFreeNotification(io_handler_);
  }
  // Socket follows the handler; a handler of another kind leaves it null
  // rather than pointing at one that may be gone.
  socket_ = dynamic_cast<TNetIOHandlerSocket*>(io_handler);
  io_handler_ = io_handler;
  if (io_handler_ != nullptr && io_handler_ != own_io_handler_.get()) FreeNotification(io_handler_);
}

void TNetTCPConnection::AdoptIOHandler(std::unique_ptr<TNetIOHandler> io_handler) {
  TNetIOHandler* handler = io_handler.get();
  SetIOHandler(nullptr);
  own_io_handler_ = std::move(io_handler);
  SetIOHandler(handler);
}

void TNetTCPConnection::FreeOwnHandler() {
  if (own_io_handler_ == nullptr) return;
  if (io_handler_ == own_io_handler_.get()) {
    io_handler_ = nullptr;
    socket_ = nullptr;
  }
  own_io_handler_.reset();
}

void TNetTCPConnection::SetIntercept(TNetConnectionIntercept* intercept) {
  if (intercept == intercept_) return;
  if (intercept_ != nullptr) RemoveFreeNotification(intercept_);
  intercept_ = intercept;
  if (intercept_ != nullptr) FreeNotification(intercept_);
}

void TNetTCPConnection::Notification(TNetBaseComponent* component, TOperation operation) {
  TNetComponent::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  if (component == io_handler_) {
    io_handler_ = nullptr;
    socket_ = nullptr;
  }
  if (component == intercept_) intercept_ = nullptr;
}

// ---- total deadline ----------------------------------------------------------

void TNetTCPConnection::SetDeadline(std::chrono::steady_clock::time_point deadline) {
  deadline_ = deadline;
  has_deadline_ = true;
}

void TNetTCPConnection::ClearDeadline() { has_deadline_ = false; }

bool TNetTCPConnection::DeadlinePassed() const {
  return has_deadline_ && std::chrono::steady_clock::now() >= deadline_;
}

int TNetTCPConnection::BoundedByDeadline(int timeout) const {
  if (!has_deadline_) return timeout;
  // Rounded up: a wait cut by the deadline ends at it, not just before.
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now()).count();
  if (left <= 0) throw ENetDeadlineExceeded();
  const int bound = static_cast<int>(std::min<int64_t>(left, INT_MAX));
  return timeout == TimeoutInfinite || timeout < 0 ? bound : std::min(timeout, bound);
}

// ---- connection state ------------------------------------------------------

void TNetTCPConnection::NotifyDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TNetTCPConnection::ResetConnection() {
  input_buffer_.Clear();
  closed_gracefully_ = false;
}

void TNetTCPConnection::CheckDisconnected(bool raise_if_disconnected, bool ignore_buffer) {
  bool disconnected;
  if (closed_gracefully_ || io_handler_ == nullptr) {
    disconnected = io_handler_ != nullptr;
    if (disconnected && io_handler_->Connected()) {
      DropSocket();
      DoStatus(TNetStatus::hsDisconnected);
      NotifyDisconnected();
    }
  } else {
    disconnected = !io_handler_->Connected();
  }
  // Bytes that arrived before the close stay readable: the close is raised
  // only once they are consumed (unless the caller ignores them).
  if (disconnected && (input_buffer_.Size() == 0 || ignore_buffer) && raise_if_disconnected) {
    throw ENetConnClosedGracefully();
  }
}

void TNetTCPConnection::CheckPeerClosed(bool raise_if_disconnected) {
  FillInputBuffer(raise_if_disconnected, 1, false);
}

bool TNetTCPConnection::Connected() {
  CheckDisconnected(false);
  return io_handler_ != nullptr && io_handler_->Connected();
}

void TNetTCPConnection::Disconnect() {
  DoStatus(TNetStatus::hsDisconnecting);
  DropSocket();
  if (drop_handler_on_disconnect_) {
    FreeOwnHandler();
    drop_handler_on_disconnect_ = false;
  }
  NotifyDisconnected();
  DoStatus(TNetStatus::hsDisconnected);
}

void TNetTCPConnection::DropSocket() {
  if (io_handler_ == nullptr) return;
  closed_gracefully_ = true;
  if (intercept_ != nullptr) intercept_->Disconnect();
  io_handler_->Close();
}

// ---- reading -------------------------------------------------------------------

int TNetTCPConnection::ReceiveIntoInputBuffer(int& appended) {
  const int size = std::max(RecvBufferSize, 1);
  appended = 0;
  if (intercept_ == nullptr) {
    // Straight into the input buffer's free tail: no copy on the way.
    char* tail = input_buffer_.Reserve(size);
    const int count = io_handler_->Recv(tail, size);
    if (count > 0) {
      if (ASCIIFilter) MaskTo7Bits(tail, count);
      input_buffer_.Commit(count);
      appended = count;
    }
    return count;
  }
  recv_buffer_.SetSize(size);
  const int count = io_handler_->Recv(recv_buffer_.Memory(), size);
  if (count > 0) {
    recv_buffer_.SetSize(count);
    recv_buffer_.SetPosition(0);
    intercept_->Receive(&recv_buffer_);
    const int64_t filtered = recv_buffer_.Size();
    if (ASCIIFilter) MaskTo7Bits(recv_buffer_.Memory(), filtered);
    input_buffer_.Append(recv_buffer_.Memory(), filtered);
    appended = static_cast<int>(filtered);
  }
  return count;
}

int TNetTCPConnection::FillInputBuffer(bool raise_if_disconnected, int timeout, bool raise_on_timeout) {
  if (timeout == TimeoutDefault) timeout = ReadTimeout == 0 ? TimeoutInfinite : ReadTimeout;
  CheckDisconnected(raise_if_disconnected, false);
  if (!Connected()) {
    if (raise_if_disconnected) throw ENetNotConnected();
    return 0;
  }
  int count;
  do {
    count = 0;
    // A zero-wait look is no wait: it stays allowed past the deadline, so
    // that a close can still be noticed while a failure is on its way out.
    const int wait = timeout == 0 ? 0 : BoundedByDeadline(timeout);
    if (!io_handler_->Readable(wait)) {
      // A wait the deadline cut short ends at the deadline, whatever the
      // clock's rounding says.
      const bool cut = has_deadline_ && timeout != 0 && (timeout < 0 || wait < timeout);
      if (cut) throw ENetDeadlineExceeded();
      if (raise_on_timeout) throw ENetReadTimeout();
      return -1;
    }
    const int received = ReceiveIntoInputBuffer(count);
    const int error = received == kSocketError ? SharedStack->SockLastError() : 0;
    closed_gracefully_ = received == 0;
    if (received == kSocketError) {
      SharedStack->LastError = error;
      if (error != kShutdown && error != kAborted) SharedStack->RaiseSocketError(error);
      DropSocket();
      if (input_buffer_.Size() == 0) SharedStack->RaiseSocketError(error);
    }
    CheckDisconnected(raise_if_disconnected, false);
  } while (count == 0 && Connected());
  return count;
}

std::string TNetTCPConnection::ReadLn(const std::string& terminator, int timeout, int max_line_length) {
  if (max_line_length < 0) max_line_length = MaxLineLength;
  const std::string& term = terminator.empty() ? kLineFeed : terminator;
  const int64_t term_size = static_cast<int64_t>(term.size());
  line_was_split_ = false;
  line_timed_out_ = false;

  // Every path returns this one string, so that it is built in place.
  std::string line;
  int64_t hit = -1;     // offset of the terminator in the input buffer
  int64_t scanned = 0;  // bytes already searched
  while (true) {
    const int64_t size = input_buffer_.Size();
    if (size > scanned) {
      // Only the bytes that arrived since the last look are searched, plus
      // enough before them to catch a terminator split between receives.
      const int64_t from = std::max<int64_t>(0, scanned - (term_size - 1));
      const int64_t found = FindTerminator(input_buffer_.Memory() + from, size - from, term);
      if (found >= 0) hit = from + found;
      scanned = size;
    }
    const bool over_long = max_line_length != 0 && (hit >= 0 ? hit : scanned) > max_line_length;
    if (over_long) {
      if (MaxLineAction == TNetMaxLineAction::maException) throw ENetReadLnMaxLineLengthExceeded();
      line_was_split_ = true;
      line = input_buffer_.ExtractBytes(max_line_length);
      return line;
    }
    if (hit >= 0) break;
    CheckDisconnected(true, true);
    const int received = FillInputBuffer(true, timeout, timeout == TimeoutDefault);
    if (received <= 0) {
      // The peer closed before a terminator (its bytes stay buffered), or an
      // explicit time-out expired.
      line_timed_out_ = true;
      return line;
    }
  }

  // With a bare LF terminator a CR before it goes too.
  const char* bytes = input_buffer_.Memory();
  int64_t length = hit;
  if (term_size == 1 && term[0] == '\n' && length > 0 && bytes[length - 1] == '\r') --length;
  line.assign(bytes, static_cast<size_t>(length));
  input_buffer_.Remove(hit + term_size);
  return line;
}

std::string TNetTCPConnection::ReadNonEmptyLine(int fail_count) {
  for (int empty_lines = 0; empty_lines < fail_count; ++empty_lines) {
    std::string line = ReadLn();
    if (!line.empty()) return line;
  }
  return std::string();
}

void TNetTCPConnection::ReadBuffer(void* buffer, int64_t count) {
  if (count <= 0) return;
  while (input_buffer_.Size() < count) {
    FillInputBuffer(true, TimeoutDefault, true);
    CheckDisconnected(true, true);
  }
  std::memcpy(buffer, input_buffer_.Memory(), static_cast<size_t>(count));
  input_buffer_.Remove(count);
}

int TNetTCPConnection::ReadInteger(bool convert) {
  uint32_t value = 0;
  ReadBuffer(&value, sizeof value);
  if (convert) value = ntohl(value);
  return static_cast<int>(value);
}

void TNetTCPConnection::ReadStream(TStream* stream, int64_t count, bool read_until_disconnect) {
  if (count == -1 && !read_until_disconnect) count = ReadInteger(true);
  if (count > -1) PresizeStream(stream, std::min(count, kMaxPresize));
  int64_t remaining = read_until_disconnect ? INT64_MAX : count;
  BeginWork(TWorkMode::wmRead, read_until_disconnect ? 0 : count);

  // Whatever is buffered goes to the stream at once, so that every byte
  // received before a close ends up there.
  auto drain = [&] {
    const int64_t n = std::min(input_buffer_.Size(), remaining);
    if (n <= 0) return;
    stream->Write(input_buffer_.Memory(), n);
    input_buffer_.Remove(n);
    remaining -= n;
  };
  auto finish = [&] {
    EndWork(TWorkMode::wmRead);
    const int64_t position = stream->Position();
    if (stream->Size() > position) stream->SetSize(position);
  };

  try {
    drain();
    while (remaining > 0 && Connected()) {
      FillInputBuffer(true, TimeoutDefault, true);
      drain();
    }
  } catch (const ENetConnClosedGracefully&) {
    if (!read_until_disconnect) {
      finish();
      throw;
    }
    drain();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

std::string TNetTCPConnection::TakeInputBuffer() {
  if (Connected()) FillInputBuffer(false, TimeoutDefault, true);
  return input_buffer_.ExtractBytes(input_buffer_.Size());
}

std::string TNetTCPConnection::AllData() {
  BeginWork(TWorkMode::wmRead);
  std::string result;
  try {
    while (Connected()) result += TakeInputBuffer();
    // Bytes that arrived with the close.
    result += input_buffer_.ExtractBytes(input_buffer_.Size());
  } catch (...) {
    EndWork(TWorkMode::wmRead);
    throw;
  }
  EndWork(TWorkMode::wmRead);
  return result;
}

// ---- writing -------------------------------------------------------------------

void TNetTCPConnection::Write(const std::string& out) {
  if (!out.empty()) WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

void TNetTCPConnection::WriteLn(const std::string& out) { Write(out + "\r\n"); }

void TNetTCPConnection::WriteBuffer(const void* buffer, int64_t count, bool write_now) {
  if (count <= 0) return;
  CheckDisconnected(true, true);
  if (!Connected()) throw ENetNotConnected();

  if (write_buffer_ != nullptr && !write_now) {
    write_buffer_->Append(buffer, count);
    if (write_buffer_threshold_ > 0 && write_buffer_->Size() >= write_buffer_threshold_) {
      FlushWriteBuffer(write_buffer_threshold_);
    }
    return;
  }

  const char* bytes = static_cast<const char*>(buffer);
  TNetSimpleBuffer filtered;
  if (intercept_ != nullptr) {
    filtered.Write(buffer, count);
    filtered.SetPosition(0);
    intercept_->Send(&filtered);
    bytes = filtered.Memory();
    count = filtered.Size();
  }

  TNetStack& stack = *SharedStack;
  // Under a deadline a send that the peer does not drain gives up when the
  // deadline comes (the socket's send time-out), and is restored afterwards.
  const bool bounded = has_deadline_ && socket_ != nullptr && socket_->Binding() != nullptr;
  auto set_send_timeout = [&](int ms) {
    const timeval limit{ms / 1000, (ms % 1000) * 1000};
    socket_->Binding()->SetSockOpt(SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  };
  try {
    for (int64_t offset = 0; offset < count;) {
      if (bounded) set_send_timeout(BoundedByDeadline(TimeoutInfinite));
      const int piece = static_cast<int>(std::min<int64_t>(count - offset, INT_MAX));
      const int sent = io_handler_->Send(bytes + offset, piece);
      const int error = sent == kSocketError ? stack.SockLastError() : 0;
      TNetAntiFreezeBase::DoProcess(false);
      closed_gracefully_ = sent == 0;
      CheckDisconnected(true, false);
      if (sent == kSocketError) {
        if (DeadlinePassed()) throw ENetDeadlineExceeded();
        if (error == kShutdown || error == kAborted || error == kReset) DropSocket();
        stack.RaiseSocketError(error);
      }
      DoWork(TWorkMode::wmWrite, sent);
      offset += sent;
    }
  } catch (...) {
    if (bounded && socket_ != nullptr && socket_->Connected()) {
      try {
        set_send_timeout(0);
      } catch (...) {
      }
    }
    throw;
  }
  if (bounded && socket_ != nullptr && socket_->Connected()) set_send_timeout(0);
}

void TNetTCPConnection::WriteInteger(int value, bool convert) {
  uint32_t bytes = static_cast<uint32_t>(value);
  if (convert) bytes = htonl(bytes);
  WriteBuffer(&bytes, sizeof bytes);
}

void TNetTCPConnection::OpenWriteBuffer(int threshold) {
  write_buffer_ = std::make_unique<TNetSimpleBuffer>();
  write_buffer_threshold_ = threshold;
}

void TNetTCPConnection::CloseWriteBuffer() {
  // The buffer goes even when sending fails, so that later writes are not
  // silently collected for a flush that never comes.
  try {
    FlushWriteBuffer(-1);
  } catch (...) {
    write_buffer_.reset();
    throw;
  }
  write_buffer_.reset();
}

void TNetTCPConnection::FlushWriteBuffer(int64_t count) {
  if (write_buffer_ == nullptr || write_buffer_->Size() == 0) return;
  if (count == -1 || count >= write_buffer_->Size()) {
    WriteBuffer(write_buffer_->Memory(), write_buffer_->Size(), true);
    ClearWriteBuffer();
  } else {
    WriteBuffer(write_buffer_->Memory(), count, true);
    write_buffer_->Remove(count);
  }
}

void TNetTCPConnection::ClearWriteBuffer() {
  if (write_buffer_ != nullptr) write_buffer_->Clear();
}

void TNetTCPConnection::WriteStream(TStream* stream, bool all, bool write_byte_count, int64_t size) {
  if (all) stream->SetPosition(0);
  const int64_t end = size == 0 ? stream->Size() : stream->Position() + size;
  const int64_t count = end - stream->Position();
  if (write_byte_count) WriteInteger(static_cast<int>(count));

  BeginWork(TWorkMode::wmWrite, count);
  try {
    const int64_t piece_size = std::max(SendBufferSize, 1);
    std::vector<char> block(static_cast<size_t>(piece_size));
    while (true) {
      const int64_t n = std::min(end - stream->Position(), piece_size);
      if (n <= 0) break;
      const int64_t read = stream->Read(block.data(), n);
      if (read == 0) throw ENetNoDataToRead();
      WriteBuffer(block.data(), read);
    }
  } catch (...) {
    EndWork(TWorkMode::wmWrite);
    throw;
  }
  EndWork(TWorkMode::wmWrite);
}

}  // namespace veilex
