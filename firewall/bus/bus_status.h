#pragma once
// How a Status crosses the bus: the error's name carries the kind of the failure
// (org.brenvo.Firewall1.Error.<kind>), its message the reason.
#include <sdbus-c++/Error.h>

#include "firewall/com/status.h"

namespace bus {

// The error that carries `failure`, which is not ok.
sdbus::Error ErrorFromStatus(const Status& failure);
// The failure that `error` carries. An error that did not come from the service (no bus, no
// service) is access denied when the bus refused the call and failed otherwise.
Status StatusFromError(const sdbus::Error& error);

}  // namespace bus
