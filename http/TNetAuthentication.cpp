#include "http/TNetAuthentication.h"

#include <mutex>
#include <utility>
#include <vector>

#include "http/HTTPExceptions.h"
#include "http/TNetCoderMIME.h"
#include "http/TNetURI.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

struct Registry {
  std::mutex lock;
  std::vector<std::pair<std::string, TNetAuthenticationClass>> schemes{
      {"Basic", &TNetBasicAuthentication::kClass}};
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

const TNetAuthenticationClassInfo TNetBasicAuthentication::kClass = {
    "TNetBasicAuthentication",
    []() -> std::unique_ptr<TNetAuthentication> { return std::make_unique<TNetBasicAuthentication>(); }};

void RegisterAuthenticationMethod(const std::string& name, TNetAuthenticationClass cls) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  for (const auto& [known, known_class] : registry.schemes) {
    if (SameText(known, name)) {
      throw ENetAlreadyRegisteredAuthenticationMethod(
          Format("Cette méthode d'authentification est déjà recensée avec le nom de classe %s.",
                 {known_class->ClassName}));
    }
  }
  registry.schemes.emplace_back(name, cls);
}

TNetAuthenticationClass FindAuthClass(const std::string& name) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  for (const auto& [known, known_class] : registry.schemes) {
    if (SameText(known, name)) return known_class;
  }
  return nullptr;
}

TNetAuthentication::TNetAuthentication() = default;

void TNetAuthentication::SetAuthParams(const TNetHeaderList& lines) {
  if (!auth_params_) auth_params_ = std::make_unique<TNetHeaderList>();
  auth_params_->AssignLines(lines);
}

std::string TNetAuthentication::GetAuthParams(const std::string& scheme) const {
  if (!auth_params_) return std::string();
  for (int i = 0; i < auth_params_->Count(); ++i) {
    const std::string& line = (*auth_params_)[i];
    if (line.compare(0, scheme.size(), scheme) == 0) return line;
  }
  return std::string();
}

// A Basic challenge: Basic realm="name"[, param=value]...
TNetAuthWhatsNext TNetBasicAuthentication::DoNext() {
  std::string rest = GetAuthParams("Basic");
  Fetch(rest, " ");
  while (!rest.empty()) {
    std::string item = Fetch(rest, ", ");
    const size_t equals = item.find('=');
    if (equals != std::string::npos) item.replace(equals, 1, Params.NameSeparator);
    Params.Add(item);
  }
  const std::string realm = Params.Values("realm");
  Realm = realm.size() >= 2 ? realm.substr(1, realm.size() - 2) : std::string();

  switch (CurrentStep) {
    case 0:
      return Username().empty() ? TNetAuthWhatsNext::AuthAskProgram : TNetAuthWhatsNext::AuthSendRequest;
    case 1:
      return TNetAuthWhatsNext::AuthFail;
    default:
      return TNetAuthWhatsNext::AuthSendRequest;
  }
}

void TNetBasicAuthentication::Reset() {
  TNetAuthentication::Reset();
  CurrentStep = 0;
}

std::string TNetBasicAuthentication::CredentialsText() {
  return "Basic " + TNetEncoderMIME::EncodeString(Username() + ":" + Password());
}

}  // namespace veilex
