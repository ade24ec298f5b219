// ExportLinks (declared in watch/LinkImport.h): the links as a table through
// the engine, or as a fichier urls.yaml.
#include <yaml-cpp/yaml.h>

#include "mlb/SafeFileWriter.h"
#include "mlb/mlb2.h"
#include "rtl/Utf8.h"
#include "watch/LinkImport.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex {
namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  if (text.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i]) return false;
  return true;
}

// Stored bytes as UTF-8: valid UTF-8 as it is, else read as ISO 8859-1.
std::string Utf8(const std::string& bytes) {
  if (IsValidUtf8(bytes)) return bytes;
  std::string text;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else {
      text += static_cast<char>(0xc0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return text;
}

// A table value keeps its line breaks through CSV only as CR LF (a lone LF
// is dropped there).
std::string CrLf(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\n' && (i == 0 || value[i - 1] != '\r')) out += '\r';
    out += value[i];
  }
  return out;
}

// "http://" for a stored address without scheme, the others as stored.
std::string FullAddress(const std::string& stored) {
  const size_t colon = stored.find("://");
  const bool has_scheme = colon != std::string::npos && stored.find_first_of("/?#") > colon;
  return has_scheme ? stored : "http://" + stored;
}

// XPath expressions start at the root or a group; anything else is CSS.
bool IsXPath(const std::string& part) { return !part.empty() && (part[0] == '/' || part[0] == '('); }

bool WriteYaml(TData& data, const std::string& file_name, std::string& error, int& count) {
  YAML::Emitter out;
  TMlbc& table = data.Table;
  for (table.First(); !table.EndOfFile(); table.Next()) {
    out << YAML::BeginDoc << YAML::BeginMap;
    out << YAML::Key << "name" << YAML::Value << Utf8(table.GetData(kFieldNom));
    out << YAML::Key << "url" << YAML::Value << Utf8(FullAddress(table.GetData(kFieldUrl)));
    const std::string part = table.GetData(kFieldPartie);
    const bool texte = table.GetData(kFieldMode) == kModeTexte;
    if (!part.empty() || texte) {
      out << YAML::Key << "filter" << YAML::Value << YAML::BeginSeq;
      if (!part.empty())
        out << YAML::BeginMap << YAML::Key << (IsXPath(part) ? "xpath" : "css") << YAML::Value << Utf8(part)
            << YAML::EndMap;
      if (texte) out << "html2text";
      out << YAML::EndSeq;
    }
    out << YAML::EndMap;
    ++count;
  }
  if (!out.good()) {
    error = out.GetLastError();
    return false;
  }
  std::string text = out.c_str();
  if (!text.empty()) text += "\n";
  try {
    if (!WriteWholeFile(file_name, text)) {
      error = "le fichier ne peut pas \xc3\xaatre cr\xc3\xa9\xc3\xa9";
      return false;
    }
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace

bool ExportLinks(TData& data, const std::string& file_name, std::string& error, int& count) {
  count = 0;
  if (EndsWith(file_name, ".yaml") || EndsWith(file_name, ".yml")) return WriteYaml(data, file_name, error, count);
  TMlb2 out;
  out.AddField(kFieldNom);
  out.AddField(kFieldUrl);
  for (const char* field : kExportedFields) out.AddField(field);
  TMlbc& table = data.Table;
  for (table.First(); !table.EndOfFile(); table.Next()) {
    out.AddRow();
    out.SetData(kFieldNom, table.GetData(kFieldNom));
    out.SetData(kFieldUrl, table.GetData(kFieldUrl));
    for (const char* field : kExportedFields) out.SetData(field, CrLf(table.GetData(field)));
    ++count;
  }
  bool written = false;
  try {
    written = EndsWith(file_name, ".txt") ? out.SaveToTXTFile(file_name) : out.SaveToCSVFile(file_name);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  if (!written) error = out.LastErrorMessage();
  return written;
}

}  // namespace veilex
