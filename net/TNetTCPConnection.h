// A blocking TCP connection over an I/O handler: buffered line and block
// reads with time-outs, a write buffer, and the notice of a peer's close.
// Owns its input buffer and an I/O handler it created itself (one set from
// outside is only pointed to). Every call blocks the calling thread; one
// thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/TNetBuffers.h"
#include "net/TNetComponent.h"
#include "net/TNetStack.h"
#include "rtl/Streams.h"

namespace veilex {

class TNetConnectionIntercept;
class TNetIOHandler;
class TNetIOHandlerSocket;

enum class TNetMaxLineAction { maException, maSplit };

using TNetNotifyEvent = std::function<void(TNetBaseComponent* sender)>;

class TNetTCPConnection : public TNetComponent {
 public:
  TNetTCPConnection();
  ~TNetTCPConnection() override;

  // ---- settings ----
  bool ASCIIFilter = false;  // mask every received byte with 0x7F
  TNetMaxLineAction MaxLineAction = TNetMaxLineAction::maException;
  int MaxLineLength = 16384;  // longest line ReadLn accepts; 0: no limit
  int ReadTimeout = 0;        // ms, for TimeoutDefault; 0: wait forever
  int RecvBufferSize = 32768;  // largest single receive
  int SendBufferSize = 32768;  // piece size of WriteStream
  TNetNotifyEvent OnDisconnected;

  // ---- state ----
  bool ClosedGracefully() const { return closed_gracefully_; }
  bool LineWasSplit() const { return line_was_split_; }
  bool LineTimedOut() const { return line_timed_out_; }
  bool DropHandlerOnDisconnect() const { return drop_handler_on_disconnect_; }
  TNetManagedBuffer* InputBuffer() { return &input_buffer_; }
  int WriteBufferThreshold() const { return write_buffer_threshold_; }
  bool WriteBufferOpen() const { return write_buffer_ != nullptr; }

  TNetIOHandler* IOHandler() const { return io_handler_; }
  // Frees a handler the connection created itself, then points to the new
  // one (owned by the caller); Socket follows when it is a socket handler.
  void SetIOHandler(TNetIOHandler* io_handler);
  TNetIOHandlerSocket* Socket() const { return socket_; }
  TNetConnectionIntercept* Intercept() const { return intercept_; }
  void SetIntercept(TNetConnectionIntercept* intercept);

  // ---- total deadline ----
  // Bounds every wait of the connection from now on (the connect and the TLS
  // handshake, each read, ReadLn of a line however slowly it trickles, each
  // write) by one point in time, besides ReadTimeout, which bounds a single
  // silence only. Past the deadline the waiting call raises
  // ENetDeadlineExceeded; a zero-wait look for a close never does. Stays set
  // until ClearDeadline.
  void SetDeadline(std::chrono::steady_clock::time_point deadline);
  void ClearDeadline();
  bool HasDeadline() const { return has_deadline_; }
  // True when a deadline is set and has passed.
  bool DeadlinePassed() const;

  // ---- connection state ----
  virtual void NotifyDisconnected();
  // Empties the input buffer and forgets a close.
  virtual void ResetConnection();
  // Reads until the peer closes; everything received.
  virtual std::string AllData();
  // Notices a close (see TNetTCPConnection.cpp) and raises
  // ENetConnClosedGracefully when disconnected, asked to, and the input
  // buffer is empty (or `ignore_buffer`).
  virtual void CheckDisconnected(bool raise_if_disconnected = true, bool ignore_buffer = false);
  // One 1 ms look for a close, without a time-out error.
  virtual void CheckPeerClosed(bool raise_if_disconnected = true);
  virtual bool Connected();
  virtual void Disconnect();
  // Closes the socket, keeping the handler and what is buffered.
  virtual void DropSocket();

  // ---- reading ----
  // One wait and receive into the input buffer. Returns the count received
  // (0 at a close), or -1 on a time-out when not raising.
  virtual int FillInputBuffer(bool raise_if_disconnected = true, int timeout = TimeoutDefault,
                              bool raise_on_timeout = true);
  // A line up to `terminator` (LF by default, a CR before it dropped too).
  // max_line_length -1: MaxLineLength. Returns "" with LineTimedOut set when
  // the peer closed before a terminator, or an explicit time-out expired.
  virtual std::string ReadLn(const std::string& terminator = "\n", int timeout = TimeoutDefault,
                             int max_line_length = -1);
  // The first non-empty line, giving up with "" after `fail_count` empty ones.
  std::string ReadNonEmptyLine(int fail_count);
  // Exactly `count` bytes, waiting as long as ReadTimeout allows.
  void ReadBuffer(void* buffer, int64_t count);
  // Four bytes, from network order when `convert`.
  int ReadInteger(bool convert = true);
  // `count` bytes into `stream` at its position; count -1 reads a 4-byte
  // big-endian count first, unless `read_until_disconnect`, which reads until
  // the peer closes.
  void ReadStream(TStream* stream, int64_t count = -1, bool read_until_disconnect = false);
  // Everything buffered after one more receive (when connected).
  std::string TakeInputBuffer();

  // ---- writing ----
  virtual void Write(const std::string& out);
  virtual void WriteLn(const std::string& out = std::string());
  // Sends the stream from its start (`all`) or its position, `size` bytes or
  // to its end (0), preceded by the 4-byte count when `write_byte_count`.
  virtual void WriteStream(TStream* stream, bool all = true, bool write_byte_count = false, int64_t size = 0);
  // Sends `count` bytes, or collects them in the open write buffer.
  void WriteBuffer(const void* buffer, int64_t count, bool write_now = false);
  void WriteInteger(int value, bool convert = true);
  // Collects writes until CloseWriteBuffer; a threshold > 0 flushes whenever
  // that many bytes are held.
  void OpenWriteBuffer(int threshold = -1);
  void CloseWriteBuffer();
  // Sends `count` collected bytes (-1: all).
  void FlushWriteBuffer(int64_t count = -1);
  void ClearWriteBuffer();

 protected:
  void Notification(TNetBaseComponent* component, TOperation operation) override;

  // The I/O handler was made by Connect and is freed by Disconnect.
  void SetDropHandlerOnDisconnect(bool value) { drop_handler_on_disconnect_ = value; }
  // Installs a handler the connection owns (see TNetTCPClient::Connect).
  void AdoptIOHandler(std::unique_ptr<TNetIOHandler> io_handler);
  // `timeout` (ms; TimeoutInfinite for none) cut to what is left of the
  // deadline, rounded up to the next ms; raises ENetDeadlineExceeded when
  // nothing is left.
  int BoundedByDeadline(int timeout) const;

 private:
  void FreeOwnHandler();
  // Receives once into the input buffer: returns the receive's own result
  // and sets `appended` to the bytes added (after an intercept's filter).
  int ReceiveIntoInputBuffer(int& appended);

  TNetManagedBuffer input_buffer_;
  TNetSimpleBuffer recv_buffer_;  // one receive, when an intercept filters it
  std::unique_ptr<TNetSimpleBuffer> write_buffer_;
  int write_buffer_threshold_ = 0;

  TNetIOHandler* io_handler_ = nullptr;
  TNetIOHandlerSocket* socket_ = nullptr;
  std::unique_ptr<TNetIOHandler> own_io_handler_;
  TNetConnectionIntercept* intercept_ = nullptr;

  bool has_deadline_ = false;
  std::chrono::steady_clock::time_point deadline_{};
  bool closed_gracefully_ = false;
  bool drop_handler_on_disconnect_ = false;
  bool line_was_split_ = false;
  bool line_timed_out_ = false;
};

}  // namespace veilex
