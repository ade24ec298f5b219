#include "app/FetchRunner.h"

#include <QEventLoop>
#include <QMetaObject>
#include <atomic>
#include <thread>

namespace veilex {

void RunFetchWhileRepainting(const std::function<void()>& fetch) {
  QEventLoop loop;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    fetch();
    done = true;
    // Posted to the GUI thread: the wait below ends there, not here.
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  // A loop asked to end for another reason (the application quitting) must
  // not leave the fetch running on its own.
  while (!done) loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
}

}  // namespace veilex
