#include "firewall/bus/bus_protocol.h"

#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IObject.h>
#include <sdbus-c++/Message.h>

namespace bus {
namespace {

constexpr std::string_view kErrorPrefix = "org.brenvo.Firewall1.Error.";

const char* const kKindNames[] = {"NotFound", "AccessDenied", "InvalidArgument", "Busy", "Failed"};

}  // namespace

sdbus::Error ErrorOf(const Status& failure) {
  return sdbus::Error(std::string(kErrorPrefix) + kKindNames[static_cast<int>(failure.kind())], failure.reason());
}

Status StatusOf(const sdbus::Error& error) {
  const std::string& name = error.getName();
  if (name.starts_with(kErrorPrefix))
    for (int kind = 0; kind <= static_cast<int>(FailureKind::kFailed); ++kind)
      if (name.substr(kErrorPrefix.size()) == kKindNames[kind])
        return Status(static_cast<FailureKind>(kind), error.getMessage());
  const std::string& message = error.getMessage();
  std::string reason = "the firewall service: " + (message.empty() ? name : message);
  return name == "org.freedesktop.DBus.Error.AccessDenied" ? AccessDenied(std::move(reason))
                                                           : Failed(std::move(reason));
}

std::optional<std::string> CurrentSender(sdbus::IObject& object) {
  const sdbus::Message* message = object.getCurrentlyProcessedMessage();
  if (!message) return std::nullopt;
  std::string sender = message->getSender();
  if (sender.empty()) return std::nullopt;
  return sender;
}

Status ConnectSystemBus(std::unique_ptr<sdbus::IConnection>* connection) {
  try {
    *connection = sdbus::createSystemBusConnection();
    return {};
  } catch (const sdbus::Error& error) {
    return Failed("cannot reach the system bus: " + error.getMessage());
  }
}

}  // namespace bus
