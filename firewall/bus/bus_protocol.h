#pragma once
// The names the service and its clients share, and how a result crosses the bus: a failure
// of the firewall travels as an error whose name is its kind and whose message is its reason.
#include <sdbus-c++/Error.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "firewall/com/hresult.h"
#include "firewall/com/status.h"

namespace sdbus {
class IConnection;
class IObject;
}  // namespace sdbus

namespace bus {

inline constexpr const char* kServiceName = "org.brenvo.Firewall1";
inline constexpr const char* kObjectPath = "/org/brenvo/Firewall1";
inline constexpr const char* kManageAction = "org.brenvo.firewall.manage";
inline constexpr const char* kViewTrafficAction = "org.brenvo.traffic.view";

// The longest name or path the service takes, in characters.
inline constexpr std::size_t kMaxTextLength = 4096;
// The most bytes that the list of programs, or of ports, takes in a reply. The system bus
// refuses a message past its limit (32 MiB by default) and drops the connection that sent
// it, so a longer list is refused when it would be made, and never sent.
inline constexpr std::size_t kMaxListBytes = std::size_t{16} << 20;

// The error of a failure: org.brenvo.Firewall1.Error.<kind>, with the reason as its message.
sdbus::Error ErrorOf(const Status& failure);
// The failure that `error` tells. An error that did not come from the service (no bus, no
// service) is kAccessDenied when the bus refused the call and kFailed otherwise.
Status StatusOf(const sdbus::Error& error);

// The unique bus name of the sender of the call that an object is processing; nothing when
// the bus cannot tell. Who that sender is (its user) is for the bus daemon to say.
std::optional<std::string> CurrentSender(sdbus::IObject& object);

// A connection to the system bus (DBUS_SYSTEM_BUS_ADDRESS where set); fails where there is none.
Status ConnectSystemBus(std::unique_ptr<sdbus::IConnection>* connection);

}  // namespace bus
