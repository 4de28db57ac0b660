#pragma once
// Authorization by polkit. The caller's user is asked of the bus daemon for the sender's
// unique name (never read from /proc, where a pid may by then be another process's): uid 0
// may do everything; everyone else is checked with the authority's CheckAuthorization for
// the caller's bus name, with user interaction where the call allows it, so that the user's
// polkit agent can ask for a password. The answers come asynchronously: other callers are served meanwhile.
#include <memory>

#include "firewall/bus/authorizer.h"

namespace sdbus {
class IConnection;
class IProxy;
}  // namespace sdbus

class PolkitAuthorizer final : public Authorizer {
 public:
  explicit PolkitAuthorizer(sdbus::IConnection& connection);
  ~PolkitAuthorizer() override;

  void Check(const std::string& sender, const std::string& action, Interaction interaction, Done done) override;

 private:
  void AskPolkit(const std::string& sender, uid_t uid, const std::string& action, Interaction interaction, Done done);

  std::unique_ptr<sdbus::IProxy> m_bus;
  std::unique_ptr<sdbus::IProxy> m_authority;
};
