#include "watch/LinkImport.h"

#include <algorithm>
#include <unordered_set>

#include "mlb/mlb2.h"
#include "watch/LinkAddress.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex {
namespace {

// Fields a check writes: an imported link starts without them.
constexpr const char* kCheckFields[] = {kFieldMajOk,  kFieldMaj,     kFieldEtat,          kFieldPage,
                                        kFieldRaison, kFieldAncienne, kFieldChg,          kFieldNonLu,
                                        kFieldAdresseFinale, kFieldEtag, kFieldModifie};

bool IsCheckField(const std::string& name) {
  return std::any_of(std::begin(kCheckFields), std::end(kCheckFields),
                     [&](const char* field) { return name == field; });
}

// The values a settings field may hold; nullptr when any text goes.
const std::vector<std::string>* AllowedValues(const std::string& field) {
  static const std::vector<std::string> kModes = {"", kModeTexte, kModeSource};
  static const std::vector<std::string> kYesNo = {"", kOui};
  if (field == kFieldMode) return &kModes;
  if (field == kFieldAjouts || field == kFieldJavascript) return &kYesNo;
  return nullptr;
}

std::string Quoted(const std::string& text) { return "\xc2\xab " + text + " \xc2\xbb"; }

std::string Plural(int count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count <= 1 ? singular : plural);
}

// Imported multi-line values come back from a CSV table with CR LF; the
// dialog writes LF.
std::string LineFeeds(std::string value) {
  for (size_t at; (at = value.find("\r\n")) != std::string::npos;) value.erase(at, 1);
  return value;
}

}  // namespace

const char* const kExportedFields[5] = {kFieldMode, kFieldPartie, kFieldIgnorer, kFieldAjouts, kFieldJavascript};

TImportReport ImportLinks(TData& data, const std::string& file_name) {
  return AddLinkEntries(data, ReadLinkFile(file_name));
}

TImportReport AddLinkEntries(TData& data, const TLinkFile& file) {
  TImportReport report;
  report.Kind = file.Kind;
  if (!file.Read) {
    report.Error = file.Error;
    return report;
  }
  report.Read = true;
  TMlbc& table = data.Table;
  std::unordered_set<std::string> names;
  for (table.First(); !table.EndOfFile(); table.Next()) names.insert(table.GetData(kFieldNom));
  for (const TLinkEntry& entry : file.Entries) {
    const auto refuse = [&](const std::string& why) { report.Refused.push_back(entry.Where + " : " + why); };
    if (!entry.Problem.empty()) {
      refuse(entry.Problem);
      continue;
    }
    const TTypedAddress address = ReadTypedAddress(entry.Url);
    if (!address.Accepted) {
      refuse(address.Refusal);
      continue;
    }
    std::vector<std::pair<std::string, std::string>> fields;
    std::string bad_value;
    for (const auto& [field, value] : entry.Fields) {
      if (field == kFieldNom || field == kFieldUrl || IsCheckField(field) || table.Mlb().FieldIndex(field) == 0)
        continue;
      const std::vector<std::string>* allowed = AllowedValues(field);
      if (allowed != nullptr && std::find(allowed->begin(), allowed->end(), value) == allowed->end()) {
        bad_value = "valeur " + Quoted(value) + " refus\xc3\xa9" "e pour " + field;
        break;
      }
      fields.emplace_back(field, LineFeeds(value));
    }
    if (!bad_value.empty()) {
      refuse(bad_value);
      continue;
    }
    const std::string base = entry.Nom.empty() ? address.Stored : entry.Nom;
    std::string nom = base;
    for (int number = 2; names.count(nom) != 0; ++number) nom = base + " (" + std::to_string(number) + ")";
    names.insert(nom);
    table.AddRow();
    table.SetData(kFieldNom, nom);
    table.SetData(kFieldUrl, address.Stored);
    table.SetData(kFieldMajOk, kDateInconnue);
    table.SetData(kFieldMaj, kDateInconnue);
    table.SetData(kFieldEtat, kEtatJamais);
    for (auto& [field, value] : fields) table.SetData(field, value);
    for (const std::string& note : entry.Notes) report.Notes.push_back(entry.Where + " : " + note);
    ++report.Imported;
  }
  if (report.Imported > 0) report.Saved = data.Save();
  return report;
}

std::string ImportSummary(const TImportReport& report) {
  return Plural(report.Imported, "lien import\xc3\xa9", "liens import\xc3\xa9s") + ", " +
         Plural(static_cast<int>(report.Refused.size()), "refus\xc3\xa9", "refus\xc3\xa9s");
}

}  // namespace veilex
