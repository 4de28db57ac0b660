#pragma once
// What a test compares of a failure: its kind, or nothing for success.
#include <optional>

#include "firewall/com/status.h"

inline std::optional<FailureKind> KindOf(const Status& status) {
  return status.ok() ? std::nullopt : std::optional<FailureKind>(status.kind());
}
