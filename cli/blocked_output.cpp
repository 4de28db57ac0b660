#include "cli/blocked_output.h"

#include <pwd.h>

#include <chrono>
#include <ctime>

#include "cli/output_text.h"
#include "firewall/bus/blocked_protocol.h"

namespace {

std::string TimeText(std::chrono::system_clock::time_point time, bool utc) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm parts{};
  if (!(utc ? gmtime_r(&seconds, &parts) : localtime_r(&seconds, &parts))) return "?";
  char text[32];
  return std::strftime(text, sizeof text, utc ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S", &parts) ? text : "?";
}

// The user's name, else "".
std::string UserName(uid_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || !found) return "";
  return found->pw_name;
}

}  // namespace

std::string BlockedLine(const BlockedFlow& flow) {
  const std::string user = UserName(flow.holder.uid);
  const std::string remote = bus::RemoteAddressText(flow);
  return TimeText(flow.last, false) + "  " + (flow.holder.program.empty() ? "-" : TerminalText(flow.holder.program)) +
         "  " + (flow.holder.pid == 0 ? "-" : std::to_string(flow.holder.pid)) + "  " +
         (!flow.holder.listening ? "-"
          : user.empty()         ? std::to_string(flow.holder.uid)
                                 : TerminalText(user)) +
         "  " + ProtocolName(flow.protocol) + "  " + std::to_string(flow.localPort) + "  " +
         (remote.empty() ? "-" : remote) + "  " + std::to_string(flow.count);
}

nlohmann::ordered_json BlockedJson(const BlockedFlow& flow) {
  using Json = nlohmann::ordered_json;
  const auto textOrNull = [](const std::string& text) { return text.empty() ? Json() : Json(text); };
  const std::string remote = bus::RemoteAddressText(flow);
  return {
      {"time", TimeText(flow.last, true)},
      {"program", textOrNull(flow.holder.program)},
      {"pid", flow.holder.pid},
      {"user", flow.holder.listening ? textOrNull(UserName(flow.holder.uid)) : Json()},
      {"uid", flow.holder.listening ? Json(flow.holder.uid) : Json()},
      {"protocol", ProtocolName(flow.protocol)},
      {"port", flow.localPort},
      {"remote", textOrNull(remote)},
      {"remotePort", remote.empty() ? Json() : Json(flow.remotePort)},
      {"count", flow.count},
      {"first", TimeText(flow.first, true)},
      {"listening", flow.holder.listening},
  };
}
