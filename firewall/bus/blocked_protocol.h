#pragma once
// How a blocked flow crosses the bus (org.brenvo.Blocked1): as the struct (bsuuyqtttsq),
// its times in microseconds since 1970 and the remote address as text. The service and its
// clients both convert here, so that the two sides cannot drift apart.
#include <sdbus-c++/Types.h>

#include <cstdint>
#include <string>

#include "firewall/com/blocked_flow.h"

namespace bus {

using BlockedStruct = sdbus::Struct<bool, std::string, std::uint32_t, std::uint32_t, std::uint8_t, std::uint16_t,
                                    std::uint64_t, std::uint64_t, std::uint64_t, std::string, std::uint16_t>;

// The remote address of `flow` as text; "" where it is not told.
std::string RemoteAddressText(const BlockedFlow& flow);

// `flow` as it is sent; a remote address not told (family 0) is "".
BlockedStruct BlockedToBus(const BlockedFlow& flow);
// The flow `blocked` tells; a remote address that is "" or not an address has family 0.
BlockedFlow BlockedFromBus(const BlockedStruct& blocked);

}  // namespace bus
