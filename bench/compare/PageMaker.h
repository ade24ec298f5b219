// Pages for the comparison benchmarks: HTML of a given size, made of nested
// blocks of French-looking paragraphs with scripts and styles among them,
// and a second version with about one paragraph in a hundred changed by a
// word. Deterministic: the same sizes give the same pages.
#pragma once

#include <cstdint>
#include <string>

namespace veilex::bench {

class TPageMaker {
 public:
  // The old and the new version, each about `bytes` long.
  static void Make(size_t bytes, std::string& old_page, std::string& new_page) {
    static const char* const kWords[] = {"le",    "la",      "des",     "mairie", "conseil", "samedi", "tournoi",
                                         "club",  "horaires", "ouvert", "fermé",  "nouvelle", "réunion", "prix",
                                         "train", "ville",   "quartier", "école", "marché",  "été"};
    constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];
    uint32_t seed = 12345;
    const auto next = [&seed] {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 8) & 0xFFFFFF;
    };
    const std::string head =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Page</title>\n"
        "<style>p { margin: 0 } .x { color: red }</style>\n</head><body>\n";
    old_page = head;
    new_page = head;
    int paragraph = 0;
    while (old_page.size() < bytes) {
      std::string line;
      if (paragraph % 50 == 0) line += "<div class=\"section\"><h2>Rubrique " + std::to_string(paragraph) + "</h2>";
      if (paragraph % 97 == 0) line += "<script>var n" + std::to_string(paragraph) + " = 1;</script>";
      line += "<p>";
      std::string changed = line;
      const size_t words = 8 + next() % 10;
      const size_t changed_word = next() % words;
      const bool change = next() % 100 == 0;
      for (size_t w = 0; w < words; ++w) {
        const std::string word = kWords[next() % kWordCount];
        const std::string sep = w + 1 < words ? " " : "";
        line += word + sep;
        changed += (change && w == changed_word ? std::string("modifié") : word) + sep;
      }
      const std::string tail = paragraph % 50 == 49 ? "</p></div>\n" : "</p>\n";
      old_page += line + tail;
      new_page += changed + tail;
      ++paragraph;
    }
    old_page += "</body></html>\n";
    new_page += "</body></html>\n";
  }
};

}  // namespace veilex::bench
