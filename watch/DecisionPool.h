// TDecisionPool: a few threads that run the decisions of a check run (see
// watch/ChangeDecision.h) beside its fetches, so that the pages of one host
// are parsed while the next ones are fetched, on every core. Its queue is
// short: a caller whose task is refused runs it itself, which holds the
// memory of pages waiting to be parsed to a few pages per thread. Any thread
// may post; the owner (who made it) destroys it, which waits for the tasks
// under way and drops none.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace veilex {

class TDecisionPool {
 public:
  // `threads` at least 1; past what the system gives, fewer.
  explicit TDecisionPool(int threads);
  // Runs what is queued, then ends the threads.
  ~TDecisionPool();
  TDecisionPool(const TDecisionPool&) = delete;
  TDecisionPool& operator=(const TDecisionPool&) = delete;

  // Queues `task`; false (and `task` is not kept) when the queue is full or
  // there is no thread: the caller then runs it itself.
  bool TryPost(std::function<void()>& task);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
  std::vector<std::thread> threads_;
  bool closing_ = false;
};

}  // namespace veilex
