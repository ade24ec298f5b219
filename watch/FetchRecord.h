// What a page check keeps of its fetch besides the page: where redirects led
// (`adresse_finale`, `demenage`) and the validators (`etag`, `modifie`) sent
// back by the next check. Plain functions over the row under the table's
// cursor; the thread that owns the table.
#pragma once

#include <string>

#include "watch/PageCheck.h"

namespace veilex {

class TMlbc;

// The validators of the row's stored page.
TFetchInputs FetchInputsOf(TMlbc& table);

// `fetched` (of a fetch that asked for `address`) into `result`.
void TakeFetched(TPageFetched&& fetched, const std::string& address, TFetchResult& result);

// After a successful fetch: the final address, whether the page moved, and
// the validators, into the row.
void WriteFetchRecord(TMlbc& table, const TFetchResult& result);

// The host `address` names, as written.
std::string HostOf(const std::string& address);

}  // namespace veilex
