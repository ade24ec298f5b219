#include "watch/LinkFiles.h"

#include <gumbo.h>
#include <yaml-cpp/exceptions.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>
#include <sstream>

#include "mlb/mlb2.h"
#include "watch/YamlDocuments.h"

namespace veilex {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Trim(const std::string& text) {
  const auto space = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t begin = 0, end = text.size();
  while (begin < end && space(text[begin])) ++begin;
  while (end > begin && space(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string Quoted(const std::string& text) { return "\xc2\xab " + text + " \xc2\xbb"; }

std::string WithoutBom(const std::string& content) {
  return content.rfind("\xef\xbb\xbf", 0) == 0 ? content.substr(3) : content;
}

std::string FirstLine(const std::string& content) {
  const size_t end = content.find_first_of("\r\n");
  return content.substr(0, end == std::string::npos ? content.size() : end);
}

// ---- fichier urls.yaml --------------------------------------------------

// What one filter of an entry means for the link: "css:SEL" and "xpath:EXPR"
// name the part compared, "html2text" compares the text a reader sees.
void ApplyFilter(const std::string& kind, const std::string& argument, TLinkEntry& entry, bool& has_part) {
  if (kind == "html2text") {
    entry.Fields.emplace_back("mode", "texte");
  } else if ((kind == "css" || kind == "xpath") && !argument.empty() && !has_part) {
    has_part = true;
    entry.Fields.emplace_back("partie", argument);
  } else {
    entry.Notes.push_back("filtre " + Quoted(argument.empty() ? kind : kind + ":" + argument) + " non repris");
  }
}

// A filter written as text: "css:div.main,html2text".
void ApplyFilterText(const std::string& text, TLinkEntry& entry, bool& has_part) {
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    item = Trim(item);
    if (item.empty()) continue;
    const size_t colon = item.find(':');
    const std::string kind = Trim(item.substr(0, colon));
    ApplyFilter(kind, colon == std::string::npos ? "" : Trim(item.substr(colon + 1)), entry, has_part);
  }
}

// A filter item of a list: "html2text", "css:SEL", {css: SEL} or
// {css: {selector: SEL}} (an XPath under `path`).
void ApplyFilterNode(const TYamlValue& item, TLinkEntry& entry, bool& has_part) {
  if (item.IsScalar()) {
    ApplyFilterText(item.Text, entry, has_part);
    return;
  }
  if (!item.IsMap()) return;
  for (size_t i = 0; i + 1 < item.Items.size(); i += 2) {
    if (!item.Items[i].IsScalar()) continue;
    const std::string kind = Trim(item.Items[i].Text);
    std::string argument;
    const TYamlValue& value = item.Items[i + 1];
    if (value.IsScalar()) {
      argument = value.Text;
    } else if (value.IsMap()) {
      for (const char* key : {"selector", "path"})
        if (const TYamlValue* found = value.Find(key); found != nullptr && found->IsScalar()) argument = found->Text;
    }
    ApplyFilter(kind, Trim(argument), entry, has_part);
  }
}

TLinkEntry EntryOf(const TYamlValue& node, int number) {
  TLinkEntry entry;
  entry.Where = "entr\xc3\xa9" "e " + std::to_string(number);
  if (!node.IsMap()) {
    entry.Problem = "ce n'est pas une entr\xc3\xa9" "e avec name et url";
    return entry;
  }
  const TYamlValue* name = node.Find("name");
  if (name != nullptr && name->IsScalar()) entry.Nom = Trim(name->Text);
  if (!entry.Nom.empty()) entry.Where += " (" + Quoted(entry.Nom) + ")";
  const TYamlValue* url = node.Find("url");
  if (url == nullptr || !url->IsScalar()) {
    entry.Problem = "pas d'adresse (url)";
    return entry;
  }
  entry.Url = url->Text;
  bool has_part = false;
  if (const TYamlValue* filter = node.Find("filter")) {
    if (filter->IsScalar()) ApplyFilterText(filter->Text, entry, has_part);
    if (filter->IsSequence())
      for (const TYamlValue& item : filter->Items) ApplyFilterNode(item, entry, has_part);
  }
  return entry;
}

// ---- bookmarks ----------------------------------------------------------

struct TGumboOutputDeleter {
  void operator()(GumboOutput* output) const { gumbo_destroy_output(&kGumboDefaultOptions, output); }
};

std::string TextOf(const GumboNode* node) {
  if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE) return node->v.text.text;
  if (node->type != GUMBO_NODE_ELEMENT) return "";
  std::string text;
  const GumboVector& children = node->v.element.children;
  for (unsigned i = 0; i < children.length; ++i) text += TextOf(static_cast<const GumboNode*>(children.data[i]));
  return text;
}

// Every anchor with an address, in document order; folders (H3) are left
// out. An explicit stack: a hostile file may nest deeply.
void CollectAnchors(const GumboNode* root, std::vector<TLinkEntry>& entries) {
  std::vector<const GumboNode*> pending{root};
  while (!pending.empty()) {
    const GumboNode* node = pending.back();
    pending.pop_back();
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT) continue;
    if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_A) {
      if (const GumboAttribute* href = gumbo_get_attribute(&node->v.element.attributes, "href")) {
        TLinkEntry entry;
        entry.Nom = Trim(TextOf(node));
        entry.Url = Trim(href->value);
        entry.Where = "signet " + Quoted(entry.Nom.empty() ? entry.Url : entry.Nom);
        entries.push_back(std::move(entry));
      }
      continue;
    }
    const GumboVector& children =
        node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
    for (unsigned i = children.length; i > 0; --i) pending.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
  }
}

}  // namespace

TLinkFileKind TellLinkFileKind(const std::string& raw, char& separator) {
  const std::string content = WithoutBom(raw);
  const std::string head = Lower(content.substr(0, 4096));
  if (head.find("netscape-bookmark-file") != std::string::npos ||
      (head.find("<dl") != std::string::npos && head.find("<a ") != std::string::npos))
    return TLinkFileKind::Bookmarks;
  const std::string first = Lower(FirstLine(content));
  for (char candidate : {';', ',', '\t'}) {
    std::vector<std::string> names;
    std::stringstream fields(first);
    std::string name;
    while (std::getline(fields, name, candidate)) {
      name = Trim(name);
      if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
      names.push_back(name);
    }
    if (std::count(names.begin(), names.end(), "nom") && std::count(names.begin(), names.end(), "url")) {
      separator = candidate;
      return TLinkFileKind::Table;
    }
  }
  std::stringstream lines(content);
  std::string line;
  while (std::getline(lines, line)) {
    std::string key = Trim(line);
    if (key.rfind("- ", 0) == 0) key = Trim(key.substr(2));
    if (key.rfind("url:", 0) == 0 || key.rfind("name:", 0) == 0) return TLinkFileKind::UrlsYaml;
  }
  return TLinkFileKind::AddressList;
}

TLinkFile ReadLinkFile(const std::string& file_name) {
  TLinkFile refused;
  std::ifstream in(file_name, std::ios::binary);
  if (!in) {
    refused.Error = "le fichier " + Quoted(file_name) + " ne peut pas \xc3\xaatre ouvert";
    return refused;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) {
    refused.Error = "le fichier " + Quoted(file_name) + " ne peut pas \xc3\xaatre lu";
    return refused;
  }
  if (static_cast<unsigned long long>(size) > kMaxLinkFileBytes) {
    refused.Error = "le fichier " + Quoted(file_name) + " est trop grand pour une liste de liens";
    return refused;
  }
  in.seekg(0);
  std::string content(static_cast<size_t>(size), '\0');
  if (!in.read(content.data(), size)) {
    refused.Error = "le fichier " + Quoted(file_name) + " ne peut pas \xc3\xaatre lu";
    return refused;
  }
  char separator = ';';
  switch (TellLinkFileKind(content, separator)) {
    case TLinkFileKind::UrlsYaml:
      return ReadUrlsYaml(content);
    case TLinkFileKind::Bookmarks:
      return ReadBookmarks(content);
    case TLinkFileKind::Table:
      return ReadLinkTable(file_name, separator, WithoutBom(content).starts_with("\""));
    case TLinkFileKind::AddressList:
      break;
  }
  return ReadAddressList(content);
}

TLinkFile ReadUrlsYaml(const std::string& content) {
  TLinkFile file;
  file.Kind = TLinkFileKind::UrlsYaml;
  try {
    // Entries as documents separated by "---", or as one list, or both.
    int number = 0;
    for (const TYamlValue& document : ReadYamlDocuments(WithoutBom(content))) {
      if (document.Kind == TYamlValue::TKind::Null) continue;
      if (document.IsSequence()) {
        for (const TYamlValue& item : document.Items) file.Entries.push_back(EntryOf(item, ++number));
      } else {
        file.Entries.push_back(EntryOf(document, ++number));
      }
    }
  } catch (const YAML::Exception& e) {
    file.Entries.clear();
    file.Error = std::string("fichier urls.yaml incorrect : ") + e.what();
    return file;
  }
  file.Read = true;
  return file;
}

TLinkFile ReadBookmarks(const std::string& content) {
  TLinkFile file;
  file.Kind = TLinkFileKind::Bookmarks;
  const std::unique_ptr<GumboOutput, TGumboOutputDeleter> output(
      gumbo_parse_with_options(&kGumboDefaultOptions, content.data(), content.size()));
  if (!output) {
    file.Error = "les signets n'ont pas pu \xc3\xaatre lus";
    return file;
  }
  CollectAnchors(output->document, file.Entries);
  file.Read = true;
  return file;
}

TLinkFile ReadLinkTable(const std::string& file_name, char separator, bool quoted) {
  TLinkFile file;
  file.Kind = TLinkFileKind::Table;
  TMlb2 table;
  table.SetCSVSeparator(std::string(1, separator));
  if (!(quoted ? table.LoadFromTXTFile(file_name) : table.LoadFromCSVFile(file_name))) {
    file.Error = "le tableau n'a pas pu \xc3\xaatre lu : " + table.LastErrorMessage();
    return file;
  }
  std::vector<std::string> others;
  for (int field = 1; field <= table.FieldCount(); ++field) {
    const std::string name = Lower(table.GetFieldName(field));
    if (name != "nom" && name != "url") others.push_back(name);
  }
  int line = 1;  // the field names
  for (table.First(); !table.EndOfFile(); table.Next()) {
    TLinkEntry entry;
    entry.Where = "ligne " + std::to_string(++line);
    entry.Nom = table.GetData("nom");
    entry.Url = table.GetData("url");
    for (const std::string& name : others) entry.Fields.emplace_back(name, table.GetData(name));
    file.Entries.push_back(std::move(entry));
  }
  file.Read = true;
  return file;
}

TLinkFile ReadAddressList(const std::string& content) {
  TLinkFile file;
  file.Kind = TLinkFileKind::AddressList;
  std::stringstream lines(WithoutBom(content));
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    TLinkEntry entry;
    entry.Where = "ligne " + std::to_string(number);
    entry.Url = line;
    file.Entries.push_back(std::move(entry));
  }
  file.Read = true;
  return file;
}

}  // namespace veilex
