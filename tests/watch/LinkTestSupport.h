// What the page check's tests share: a link written as the dialog leaves it,
// a field of a link read back from the data file, a fixed local date.
#pragma once

#include <string>
#include <vector>

#include "rtl/DateTime.h"
#include "watch/LinkRecord.h"

namespace veilex {

class TData;

namespace testing {

// Appends a link (with an earlier check's `majok` and `page` when given)
// and saves.
void AddLink(TData& data, const std::string& nom, const std::string& url,
             const std::string& majok = kDateInconnue, const std::string& page = "");

// One field of the link `nom` as the data file holds it.
std::string Stored(const std::string& file_name, const std::string& nom, const std::string& field);

// Every field of the link `nom` in the table, in field order; none when
// there is no such link.
std::vector<std::string> Fields(TData& data, const std::string& nom);

// "host:port/path" for an "http://" address: what the dialog stores.
std::string UrlOfPlain(const std::string& address);

// A local date and time as the clock gives it.
TDateTime At(int year, int month, int day, int hour, int minute, int second, int millisecond);

}  // namespace testing
}  // namespace veilex
