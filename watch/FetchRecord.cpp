#include "watch/FetchRecord.h"

#include "http/TNetURI.h"
#include "mlb/mlbc.h"
#include "watch/LinkRecord.h"

namespace veilex {

TFetchInputs FetchInputsOf(TMlbc& table) {
  TFetchInputs inputs;
  inputs.ETag = table.GetData(kFieldEtag);
  inputs.LastModified = table.GetData(kFieldModifie);
  inputs.HasPage = !table.GetData(kFieldPage).empty();
  return inputs;
}

void TakeFetched(TPageFetched&& fetched, const std::string& address, TFetchResult& result) {
  result.Ok = true;
  result.Body = std::move(fetched.Body);
  result.NotModified = fetched.NotModified;
  if (fetched.FinalAddress != address) {
    result.FinalUrl = std::move(fetched.FinalAddress);
    result.Moved = fetched.Moved;
  }
  result.ETag = std::move(fetched.ETag);
  result.LastModified = std::move(fetched.LastModified);
}

void WriteFetchRecord(TMlbc& table, const TFetchResult& result) {
  table.SetData(kFieldAdresseFinale, result.FinalUrl);
  table.SetData(kFieldDemenage, result.Moved ? kOui : "");
  table.SetData(kFieldEtag, result.ETag);
  table.SetData(kFieldModifie, result.LastModified);
}

std::string HostOf(const std::string& address) { return TNetURI(address).Host; }

}  // namespace veilex
