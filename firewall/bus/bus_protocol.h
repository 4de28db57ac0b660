#pragma once
// The names the service and its clients share, and how a result crosses the bus: a failure
// travels as a named error whose message starts with its HRESULT, and comes back as it.
#include <sdbus-c++/Error.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "firewall/com/hresult.h"

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

// The error that carries `hr` and `reason`: org.brenvo.Firewall1.Error.<kind>.
sdbus::Error ErrorOf(HRESULT hr, const std::string& reason);
// The HRESULT that `error` carries, with its reason left as the thread's error text. An
// error that did not come from the service (no bus, no service) is E_ACCESSDENIED when the
// bus refused the call and E_FAIL otherwise.
HRESULT ResultOf(const sdbus::Error& error);

// The unique bus name of the sender of the call that an object is processing; nothing when
// the bus cannot tell. Who that sender is (its user) is for the bus daemon to say.
std::optional<std::string> CurrentSender(sdbus::IObject& object);

// A connection to the system bus (DBUS_SYSTEM_BUS_ADDRESS where set); fails, with the reason
// as the thread's error text, where there is none.
HRESULT ConnectSystemBus(std::unique_ptr<sdbus::IConnection>* connection);

// Texts on the bus are UTF-8 without NUL; the firewall keeps UTF-16. Each conversion gives
// nothing for a text that cannot cross the bus: bytes that are not UTF-8, an unpaired
// surrogate, a NUL.
std::optional<std::u16string> Utf16(std::string_view utf8);
std::optional<std::string> Utf8(std::u16string_view utf16);
// For a text the firewall already holds: what cannot cross becomes U+FFFD.
std::string Utf8OrReplacement(std::u16string_view utf16);

}  // namespace bus
