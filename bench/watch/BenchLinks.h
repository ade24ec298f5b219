// What the page check benchmarks share: their links' names, the paths nginx
// serves their pages at, the pages themselves, and how they give up.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace veilex::bench {

inline constexpr size_t kPageBytes = 100 * 1024;

[[noreturn]] inline void Die(const std::string& what) {
  std::fprintf(stderr, "watch bench: %s\n", what.c_str());
  std::exit(1);
}

inline double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// "lien000", "lien001", ...
inline std::string LinkName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "lien%03d", i);
  return name;
}

// Where nginx serves the page of link `i`.
inline std::string LinkPath(int i) { return std::string("/").append(LinkName(i)).append(".html"); }

// A page of text of kPageBytes, different for every link.
inline std::string LinkPage(int i) {
  std::string page(kPageBytes, ' ');
  for (size_t k = 0; k < page.size(); ++k)
    page[k] = static_cast<char>('a' + (k * 7 + static_cast<size_t>(i)) % 26);
  return page;
}

}  // namespace veilex::bench
