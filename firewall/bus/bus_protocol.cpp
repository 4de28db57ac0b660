#include "firewall/bus/bus_protocol.h"

#include <sdbus-c++/IConnection.h>

#include <sdbus-c++/IObject.h>
#include <sdbus-c++/Message.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "firewall/com/com_runtime.h"

namespace bus {
namespace {

constexpr std::string_view kErrorPrefix = "org.brenvo.Firewall1.Error.";

const char* const kKindNames[] = {"NotFound", "AccessDenied", "InvalidArgument", "Busy", "Failed"};

const char* KindOf(HRESULT hr) {
  switch (hr) {
    case HRESULT_NOT_FOUND: return "NotFound";
    case E_ACCESSDENIED: return "AccessDenied";
    case E_INVALIDARG: return "InvalidArgument";
    case HRESULT_BUSY: return "Busy";
    default: return "Failed";
  }
}

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

sdbus::Error ErrorOf(HRESULT hr, const std::string& reason) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08" PRIX32 ": ", static_cast<std::uint32_t>(hr));
  return sdbus::Error(std::string(kErrorPrefix) + KindOf(hr), code + reason);
}

HRESULT ResultOf(const sdbus::Error& error) {
  const std::string& message = error.getMessage();
  if (error.getName().starts_with(kErrorPrefix) && message.size() >= 12 && message.starts_with("0x") &&
      message.compare(10, 2, ": ") == 0) {
    char* end = nullptr;
    const unsigned long code = std::strtoul(message.substr(2, 8).c_str(), &end, 16);
    if (end && *end == '\0' && FAILED(static_cast<HRESULT>(code))) {
      SetErrorInfoText(message.substr(12));
      return static_cast<HRESULT>(code);
    }
  }
  SetErrorInfoText("the firewall service: " + (message.empty() ? error.getName() : message));
  return error.getName() == "org.freedesktop.DBus.Error.AccessDenied" ? E_ACCESSDENIED : E_FAIL;
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
