// RunFetchWhileRepainting: the way the main window waits for a page fetch.
// The fetch runs on a thread of its own while the GUI thread keeps handling
// repaints, window system and posted events, but no user input: no command
// can start until the fetch is over. GUI thread only.
#pragma once

#include <functional>

namespace veilex {

// Runs `fetch` (which must raise nothing and touch no widget, table or file)
// on another thread and returns once it has finished. Meanwhile the window
// keeps painting; input stays queued for after.
void RunFetchWhileRepainting(const std::function<void()>& fetch);

}  // namespace veilex
