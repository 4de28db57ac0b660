#include "daemon/polkit_authorizer.h"

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <map>

namespace {

// A password dialog may stay open a while; polkit ends it itself after some minutes.
constexpr auto kDecisionTimeout = std::chrono::minutes(5);
constexpr std::uint32_t kAllowUserInteraction = 1;

using Subject = sdbus::Struct<std::string, std::map<std::string, sdbus::Variant>>;
using Decision = sdbus::Struct<bool, bool, std::map<std::string, std::string>>;

}  // namespace

PolkitAuthorizer::PolkitAuthorizer(sdbus::IConnection& connection)
    : m_authority(
          sdbus::createProxy(connection, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority")) {
  m_authority->finishRegistration();
}

PolkitAuthorizer::~PolkitAuthorizer() = default;

void PolkitAuthorizer::Check(const std::string& sender, uid_t uid, const std::string& action, Done done) {
  if (uid == 0) return done(S_OK, {});
  const std::string who = "uid " + std::to_string(uid);
  const Subject subject{"system-bus-name", {{"name", sdbus::Variant(sender)}}};
  try {
    m_authority->callMethodAsync("CheckAuthorization")
        .onInterface("org.freedesktop.PolicyKit1.Authority")
        .withTimeout(kDecisionTimeout)
        .withArguments(subject, action, std::map<std::string, std::string>{}, kAllowUserInteraction, std::string())
        .uponReplyInvoke([done, who, action](const sdbus::Error* error, const Decision& decision) {
          if (error)
            return done(E_ACCESSDENIED,
                        "polkit could not decide whether " + who + " may " + action + ": " + error->getMessage());
          if (std::get<0>(decision)) return done(S_OK, {});
          done(E_ACCESSDENIED,
               who + " is not authorized for " + action +
                   (std::get<1>(decision) ? " (an administrator's password is needed, and no polkit agent gave it)"
                                          : ""));
        });
  } catch (const sdbus::Error& error) {
    done(E_ACCESSDENIED, "polkit cannot be asked: " + error.getMessage());
  }
}
