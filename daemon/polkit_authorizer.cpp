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
    : m_bus(sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus")),
      m_authority(
          sdbus::createProxy(connection, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority")) {
  m_bus->finishRegistration();
  m_authority->finishRegistration();
}

PolkitAuthorizer::~PolkitAuthorizer() = default;

void PolkitAuthorizer::Check(const std::string& sender, const std::string& action, Interaction interaction, Done done) {
  const auto unidentified = [done](const std::string& why) {
    done(AccessDenied("the caller cannot be identified: " + why), static_cast<uid_t>(-1));
  };
  try {
    // The bus daemon took the user from the connection's socket when it was made.
    m_bus->callMethodAsync("GetConnectionUnixUser")
        .onInterface("org.freedesktop.DBus")
        .withArguments(sender)
        .uponReplyInvoke(
            [this, sender, action, interaction, done, unidentified](const sdbus::Error* error, std::uint32_t uid) {
              if (error) return unidentified(error->getMessage());
              if (uid == 0) return done(Status(), 0);
              AskPolkit(sender, uid, action, interaction, done);
            });
  } catch (const sdbus::Error& error) {
    unidentified(error.getMessage());
  }
}

void PolkitAuthorizer::AskPolkit(const std::string& sender, uid_t uid, const std::string& action,
                                 Interaction interaction, Done done) {
  const std::string who = "uid " + std::to_string(uid);
  const std::uint32_t flags = interaction == Interaction::kAllowed ? kAllowUserInteraction : 0;
  const Subject subject{"system-bus-name", {{"name", sdbus::Variant(sender)}}};
  try {
    m_authority->callMethodAsync("CheckAuthorization")
        .onInterface("org.freedesktop.PolicyKit1.Authority")
        .withTimeout(kDecisionTimeout)
        .withArguments(subject, action, std::map<std::string, std::string>{}, flags, std::string())
        .uponReplyInvoke([done, who, uid, action](const sdbus::Error* error, const Decision& decision) {
          if (error)
            return done(
                AccessDenied("polkit could not decide whether " + who + " may " + action + ": " + error->getMessage()),
                uid);
          if (std::get<0>(decision)) return done(Status(), uid);
          done(AccessDenied(who + " is not authorized for " + action +
                            (std::get<1>(decision)
                                 ? " (an administrator's password is needed, and no polkit agent gave it)"
                                 : "")),
               uid);
        });
  } catch (const sdbus::Error& error) {
    done(AccessDenied("polkit cannot be asked: " + error.getMessage()), uid);
  }
}
