// The documents of a YAML text as plain values (scalars, lists, maps), read
// through yaml-cpp's event parser: the values hold only what a reader of a
// link list looks at, so that a file of ten thousand entries costs little
// more than its parse. Aliases are resolved to copies of what they name.
// Plain functions and values; any thread.
#pragma once

#include <string>
#include <vector>

namespace veilex {

struct TYamlValue {
  enum class TKind { Null, Scalar, Sequence, Map };
  TKind Kind = TKind::Null;
  std::string Text;               // a scalar's text
  std::vector<TYamlValue> Items;  // a list's items; a map's keys and values, alternately

  bool IsScalar() const { return Kind == TKind::Scalar; }
  bool IsSequence() const { return Kind == TKind::Sequence; }
  bool IsMap() const { return Kind == TKind::Map; }
  // The value of the first key of a map whose text is `key`; null when there
  // is none (or this is not a map).
  const TYamlValue* Find(const std::string& key) const;
};

// Every document of `text`, in order. Raises YAML::Exception (its message
// says where) when the text is not YAML.
std::vector<TYamlValue> ReadYamlDocuments(const std::string& text);

}  // namespace veilex
