// The auxiliary thread of a connect under a deadline: connects one binding
// and keeps the failure's message. Its owner starts it, waits for it with a
// time limit, and on expiry cancels it; destruction always joins, so no
// thread outlives the object. The connect runs under the interrupt of the
// thread that created the object (net/TNetInterrupt.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace veilex {

class TNetInterrupt;
class TNetSocketHandle;

class TNetConnectThread {
 public:
  explicit TNetConnectThread(TNetSocketHandle* binding);
  ~TNetConnectThread();
  TNetConnectThread(const TNetConnectThread&) = delete;
  TNetConnectThread& operator=(const TNetConnectThread&) = delete;

  void Start();
  // Asks the connect to give up; returns at once.
  void Terminate();
  // Waits until the thread has terminated or `msec` ms have passed
  // (negative: no limit); true when it has terminated.
  bool WaitFor(int msec);
  bool Terminated() const { return terminated_.load(); }

  // Empty when the connect succeeded; read it only once Terminated().
  std::string ExceptionMessage;

 private:
  void Execute();

  TNetSocketHandle* binding_;
  TNetInterrupt* interrupt_;  // the creating thread's, or null
  std::atomic<bool> cancel_{false};
  std::atomic<bool> terminated_{false};
  std::mutex mutex_;
  std::condition_variable done_;
  std::thread thread_;
};

}  // namespace veilex
