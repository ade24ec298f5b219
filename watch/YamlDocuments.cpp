#include "watch/YamlDocuments.h"

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <map>
#include <sstream>
#include <utility>

namespace veilex {
namespace {

constexpr size_t kMaxCopiedValues = 1u << 20;

// Builds the values from the parser's events: each collection under
// construction on a stack, moved into its parent when it ends.
class TValueBuilder : public YAML::EventHandler {
 public:
  explicit TValueBuilder(std::vector<TYamlValue>& documents) : documents_(documents) {}

  void OnDocumentStart(const YAML::Mark&) override { open_.clear(); }
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t anchor) override { Add(TYamlValue(), anchor); }
  void OnAlias(const YAML::Mark& mark, YAML::anchor_t anchor) override {
    const auto named = anchored_.find(anchor);
    if (named == anchored_.end()) return Add(TYamlValue(), 0);
    // Aliases of aliases double at each level: a few lines could otherwise
    // ask for more copies than there is memory.
    copied_ += named->second.second;
    if (copied_ > kMaxCopiedValues)
      throw YAML::ParserException(mark,
                                  "trop de valeurs r\xc3\xa9p\xc3\xa9t\xc3\xa9"
                                  "es par des alias");
    Add(named->second.first, 0);
  }
  void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t anchor,
                const std::string& value) override {
    TYamlValue scalar;
    scalar.Kind = TYamlValue::TKind::Scalar;
    scalar.Text = value;
    Add(std::move(scalar), anchor);
  }
  void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t anchor,
                       YAML::EmitterStyle::value) override {
    Open(TYamlValue::TKind::Sequence, anchor);
  }
  void OnSequenceEnd() override { Close(); }
  void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t anchor,
                  YAML::EmitterStyle::value) override {
    Open(TYamlValue::TKind::Map, anchor);
  }
  void OnMapEnd() override { Close(); }

 private:
  struct TOpen {
    TYamlValue Value;
    YAML::anchor_t Anchor;
  };

  void Open(TYamlValue::TKind kind, YAML::anchor_t anchor) {
    TYamlValue value;
    value.Kind = kind;
    open_.push_back({std::move(value), anchor});
  }
  void Close() {
    TOpen done = std::move(open_.back());
    open_.pop_back();
    Add(std::move(done.Value), done.Anchor);
  }
  static size_t Count(const TYamlValue& value) {
    size_t count = 1;
    for (const TYamlValue& item : value.Items) count += Count(item);
    return count;
  }
  void Add(TYamlValue value, YAML::anchor_t anchor) {
    if (anchor != 0) anchored_[anchor] = {value, Count(value)};
    if (open_.empty()) {
      documents_.push_back(std::move(value));
    } else {
      open_.back().Value.Items.push_back(std::move(value));
    }
  }

  std::vector<TYamlValue>& documents_;
  std::vector<TOpen> open_;
  std::map<YAML::anchor_t, std::pair<TYamlValue, size_t>> anchored_;  // and its count of values
  size_t copied_ = 0;
};

}  // namespace

const TYamlValue* TYamlValue::Find(const std::string& key) const {
  if (!IsMap()) return nullptr;
  for (size_t i = 0; i + 1 < Items.size(); i += 2)
    if (Items[i].IsScalar() && Items[i].Text == key) return &Items[i + 1];
  return nullptr;
}

std::vector<TYamlValue> ReadYamlDocuments(const std::string& text) {
  std::vector<TYamlValue> documents;
  std::istringstream in(text);
  YAML::Parser parser(in);
  TValueBuilder builder(documents);
  while (parser.HandleNextDocument(builder)) {
  }
  return documents;
}

}  // namespace veilex
