// Authentication schemes for "Authorization" and "Proxy-Authorization": the
// process-wide registry of schemes by name, the authentication object with
// its small state machine (credentials and challenge parameters in header
// lists), and the Basic scheme. An authentication object belongs to the
// request or proxy settings holding it and is used by that client's thread;
// the registry is guarded by its own lock.
#pragma once

#include <memory>
#include <string>

#include "http/TNetHeaderList.h"

namespace veilex {

// What an authentication object wants next.
enum class TNetAuthWhatsNext { AuthAskProgram, AuthSendRequest, AuthFail };

class TNetAuthentication;

// A scheme's class: its name for messages and a way to make an object of it.
struct TNetAuthenticationClassInfo {
  const char* ClassName;
  std::unique_ptr<TNetAuthentication> (*Create)();
};
using TNetAuthenticationClass = const TNetAuthenticationClassInfo*;

// Adds a scheme; raises ENetAlreadyRegisteredAuthenticationMethod when the
// name (ignoring case) is taken. "Basic" is registered from the start.
void RegisterAuthenticationMethod(const std::string& name, TNetAuthenticationClass cls);
// The class registered under `name` (ignoring case), or nullptr.
TNetAuthenticationClass FindAuthClass(const std::string& name);

class TNetAuthentication {
 public:
  TNetAuthentication();
  virtual ~TNetAuthentication() = default;
  TNetAuthentication(const TNetAuthentication&) = delete;
  TNetAuthentication& operator=(const TNetAuthentication&) = delete;

  virtual TNetAuthWhatsNext DoNext() = 0;
  virtual int Steps() const { return 0; }
  virtual void Reset() {}
  // The value of the credentials header to send.
  virtual std::string CredentialsText() = 0;
  virtual bool KeepAlive() const = 0;

  TNetAuthWhatsNext Next() { return DoNext(); }

  std::string Username() const { return Params.Values("username"); }
  std::string Password() const { return Params.Values("password"); }
  virtual void SetUsername(const std::string& value) { Params.SetValues("Username", value); }
  virtual void SetPassword(const std::string& value) { Params.SetValues("Password", value); }

  // The challenge lines the object was given; nullptr before the first.
  const TNetHeaderList* AuthParams() const { return auth_params_.get(); }
  void SetAuthParams(const TNetHeaderList& lines);
  // The first challenge line that begins with `scheme` (case-sensitive).
  std::string GetAuthParams(const std::string& scheme) const;

  int CurrentStep = 0;
  TNetHeaderList Params;  // credentials and challenge parameters, "name: value"

 private:
  std::unique_ptr<TNetHeaderList> auth_params_;
};

class TNetBasicAuthentication : public TNetAuthentication {
 public:
  static const TNetAuthenticationClassInfo kClass;

  TNetAuthWhatsNext DoNext() override;
  int Steps() const override { return 1; }
  void Reset() override;
  // "Basic " + Base64(user name ":" password).
  std::string CredentialsText() override;
  bool KeepAlive() const override { return false; }

  std::string Realm;
};

}  // namespace veilex
