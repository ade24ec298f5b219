#include "compare/HtmlParse.h"

#include <gumbo.h>

#include <csetjmp>
#include <cstdlib>
#include <ctime>

namespace veilex {
namespace {

// Blocks given between two looks at the clocks and the Stop flag. The parser
// does at most a bounded amount of work per block once the shape scan has
// passed the page (the depth of its open elements, the attributes of a tag),
// so a look every few blocks is close enough.
constexpr unsigned kLookEvery = 64;

long ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// Every block the parser holds, linked so that an abandoned parse can free
// them all and a finished one need not walk its tree.
struct alignas(std::max_align_t) TBlock {
  TBlock* prev;
  TBlock* next;
  size_t size;
};

// The parser is C: leaving it by longjmp skips only its own frames, which
// hold no resources of their own (all its memory comes from here). Nothing
// with a destructor lives in the frames between setjmp and longjmp.
class TArena {
 public:
  explicit TArena(const THtmlParseBounds& bounds) : bounds_(bounds), cpu_start_(ThreadCpuMs()) {}
  TArena(const TArena&) = delete;
  TArena& operator=(const TArena&) = delete;
  ~TArena() {
    while (head_ != nullptr) {
      TBlock* next = head_->next;
      std::free(head_);
      head_ = next;
    }
  }

  void* Allocate(size_t size) {
    if (calls_++ % kLookEvery == 0) Look();  // the first block too: a parse begun late ends at once
    const size_t total = sizeof(TBlock) + size;
    if (size > bounds_.MaxMemory || total > bounds_.MaxMemory - held_) Abandon(THtmlParseEnd::Memory);
    auto* block = static_cast<TBlock*>(std::malloc(total));
    if (block == nullptr) Abandon(THtmlParseEnd::Memory);
    block->prev = nullptr;
    block->next = head_;
    block->size = total;
    if (head_ != nullptr) head_->prev = block;
    head_ = block;
    held_ += total;
    if (held_ > peak_) peak_ = held_;
    return block + 1;
  }

  void Free(void* data) {
    if (data == nullptr) return;
    TBlock* block = static_cast<TBlock*>(data) - 1;
    if (block->prev != nullptr) block->prev->next = block->next;
    else head_ = block->next;
    if (block->next != nullptr) block->next->prev = block->prev;
    held_ -= block->size;
    std::free(block);
  }

  std::jmp_buf escape;
  THtmlParseEnd end = THtmlParseEnd::Done;
  size_t Peak() const { return peak_; }

 private:
  void Look() {
    if (bounds_.Stop != nullptr && bounds_.Stop->load(std::memory_order_relaxed)) Abandon(THtmlParseEnd::Stopped);
    if (ThreadCpuMs() - cpu_start_ > bounds_.MaxCpuMs) Abandon(THtmlParseEnd::Time);
    if (std::chrono::steady_clock::now() >= bounds_.Deadline) Abandon(THtmlParseEnd::Late);
  }
  [[noreturn]] void Abandon(THtmlParseEnd why) {
    end = why;
    std::longjmp(escape, 1);
  }

  THtmlParseBounds bounds_;
  long cpu_start_;
  TBlock* head_ = nullptr;
  size_t held_ = 0;
  size_t peak_ = 0;
  unsigned calls_ = 0;
};

void* ArenaAllocate(void* arena, size_t size) { return static_cast<TArena*>(arena)->Allocate(size); }
void ArenaFree(void* arena, void* data) { static_cast<TArena*>(arena)->Free(data); }

// Only trivial objects here: a longjmp lands in this frame.
GumboOutput* ParseIn(TArena& arena, const GumboOptions& options, std::string_view utf8) {
  if (setjmp(arena.escape) != 0) return nullptr;
  return gumbo_parse_with_options(&options, utf8.data(), utf8.size());
}

}  // namespace

THtmlParseEnd ParseHtml(std::string_view utf8, const THtmlParseBounds& bounds,
                        const std::function<void(const GumboInternalNode* document)>& visit, size_t* peak_memory) {
  TArena arena(bounds);
  GumboOptions options = kGumboDefaultOptions;
  options.max_errors = 0;  // the parser's error list is of no use here
  options.allocator = ArenaAllocate;
  options.deallocator = ArenaFree;
  options.userdata = &arena;
  const GumboOutput* output = ParseIn(arena, options, utf8);
  if (peak_memory != nullptr) *peak_memory = arena.Peak();
  if (output == nullptr) return arena.end == THtmlParseEnd::Done ? THtmlParseEnd::Memory : arena.end;
  visit(output->document);
  return THtmlParseEnd::Done;  // the arena frees the tree
}

}  // namespace veilex
