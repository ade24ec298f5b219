#include "watch/DecisionPool.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace veilex {

TDecisionPool::TDecisionPool(int threads) {
  for (int i = 0; i < std::max(threads, 1); ++i) {
    try {
      threads_.emplace_back([this] { Run(); });
    } catch (const std::system_error&) {
      break;  // the callers run their tasks themselves
    }
  }
}

TDecisionPool::~TDecisionPool() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  // Without threads, nothing was ever queued.
}

bool TDecisionPool::TryPost(std::function<void()>& task) {
  {
    std::lock_guard lock(mutex_);
    if (closing_ || threads_.empty() || tasks_.size() >= 2 * threads_.size()) return false;
    tasks_.push_back(std::move(task));
  }
  ready_.notify_one();
  return true;
}

void TDecisionPool::Run() {
  while (true) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
      if (tasks_.empty()) return;  // closing, and nothing left
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace veilex
