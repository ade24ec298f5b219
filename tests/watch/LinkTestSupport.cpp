#include "tests/watch/LinkTestSupport.h"

#include <gtest/gtest.h>

#include "mlb/mlb2.h"
#include "watch/uData.h"

namespace veilex::testing {

void AddLink(TData& data, const std::string& nom, const std::string& url, const std::string& majok,
             const std::string& page) {
  data.Table.AddRow();
  data.Table.SetData(kFieldNom, nom);
  data.Table.SetData(kFieldUrl, url);
  data.Table.SetData(kFieldMajOk, majok);
  data.Table.SetData(kFieldMaj, kDateInconnue);
  data.Table.SetData(kFieldEtat, kEtatJamais);
  data.Table.SetData(kFieldPage, page);
  EXPECT_TRUE(data.Save());
}

std::string Stored(const std::string& file_name, const std::string& nom, const std::string& field) {
  TMlb2 table;
  EXPECT_TRUE(table.LoadFromMLBFile(file_name)) << table.LastErrorMessage();
  for (int pos = 1; pos <= table.RowCount(); ++pos) {
    if (table.GetDataAt(table.FieldIndex(kFieldNom), pos) == nom)
      return table.GetDataAt(table.FieldIndex(field), pos);
  }
  ADD_FAILURE() << "no link " << nom << " in the file";
  return std::string();
}

std::string UrlOfPlain(const std::string& address) { return address.substr(std::string("http://").size()); }

TDateTime At(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  TDateTime date = 0;
  TDateTime time = 0;
  EXPECT_TRUE(TryEncodeDate(year, month, day, date));
  EXPECT_TRUE(TryEncodeTime(hour, minute, second, millisecond, time));
  return date + time;
}

std::vector<std::string> Fields(TData& data, const std::string& nom) {
  std::vector<std::string> values;
  if (!data.TrouverLien(nom)) return values;
  for (const char* field : kLinkFields) values.push_back(data.Table.GetData(field));
  for (const char* field : kAddedLinkFields) values.push_back(data.Table.GetData(field));
  return values;
}

}  // namespace veilex::testing
