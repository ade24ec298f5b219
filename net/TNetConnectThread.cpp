#include "net/TNetConnectThread.h"

#include <exception>

#include "net/TNetInterrupt.h"
#include "net/TNetSocketHandle.h"
#include "net/TNetStack.h"

namespace veilex {

namespace {
constexpr int kBadDescriptor = 9;
constexpr int kNotASocket = 88;
}  // namespace

TNetConnectThread::TNetConnectThread(TNetSocketHandle* binding)
    : binding_(binding), interrupt_(TNetInterrupt::Current()) {}

TNetConnectThread::~TNetConnectThread() {
  Terminate();
  if (thread_.joinable()) thread_.join();
}

void TNetConnectThread::Start() { thread_ = std::thread(&TNetConnectThread::Execute, this); }

void TNetConnectThread::Terminate() { cancel_.store(true); }

bool TNetConnectThread::WaitFor(int msec) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (msec < 0) {
    done_.wait(lock, [this] { return terminated_.load(); });
    return true;
  }
  return done_.wait_for(lock, std::chrono::milliseconds(msec), [this] { return terminated_.load(); });
}

void TNetConnectThread::Execute() {
  // The connect is cut short as its owner's own waits would be.
  TNetInterruptScope scope(interrupt_);
  try {
    // A socket closed under the connect (bad descriptor, not a socket) is
    // the owner giving up, not a failure to report.
    TNetStack& stack = *SharedStack;
    stack.CheckSocketResult(binding_->ConnectCancellable(cancel_, AF_INET), {kBadDescriptor, kNotASocket});
  } catch (const std::exception& error) {
    ExceptionMessage = error.what();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    terminated_.store(true);
  }
  done_.notify_all();
}

}  // namespace veilex
