// The HTML parser run within bounds. The shape scan (compare/HtmlShape.h)
// refuses the pages it can see are costly; a few shapes it cannot see still
// make the parser build far more than the page holds (formatting elements
// it re-opens at every paragraph) or compare without end. So every block the
// parser asks for comes from here: the memory it holds is counted and
// capped, its thread's processor time is capped, and the Stop flag is
// honoured; past a bound the parse is abandoned and all of its memory freed.
// The tree is freed block by block, never by the parser's own recursion.
// Stateless; any thread, several at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

struct GumboInternalNode;

namespace veilex {

struct THtmlParseBounds {
  size_t MaxMemory = 0;    // bytes the parser may hold at once
  long MaxCpuMs = 0;       // processor time of the calling thread
  const std::atomic<bool>* Stop = nullptr;
  std::chrono::steady_clock::time_point Deadline = std::chrono::steady_clock::time_point::max();
};

enum class THtmlParseEnd {
  Done,
  Memory,   // MaxMemory was reached
  Time,     // MaxCpuMs was reached
  Stopped,  // the Stop flag was set
  Late,     // the Deadline passed
};

// Parses `utf8` and, when the parse ends within `bounds`, calls `visit` with
// the document node; the tree is freed on return. `peak_memory`, when given,
// receives the most the parser held at once.
THtmlParseEnd ParseHtml(std::string_view utf8, const THtmlParseBounds& bounds,
                        const std::function<void(const GumboInternalNode* document)>& visit,
                        size_t* peak_memory = nullptr);

}  // namespace veilex
