#include "firewall/bus/bus_status.h"

#include <string_view>

#include "firewall/bus/bus_protocol.h"

namespace bus {
namespace {

struct KindName {
  FailureKind kind;
  std::string_view name;
};
constexpr KindName kKindNames[] = {{FailureKind::kNotFound, "NotFound"},
                                   {FailureKind::kAccessDenied, "AccessDenied"},
                                   {FailureKind::kInvalidArgument, "InvalidArgument"},
                                   {FailureKind::kBusy, "Busy"},
                                   {FailureKind::kFailed, "Failed"}};

std::string ErrorPrefix() { return std::string(kServiceName) + ".Error."; }

}  // namespace

sdbus::Error ErrorFromStatus(const Status& failure) {
  std::string_view name = "Failed";
  for (const KindName& known : kKindNames)
    if (known.kind == failure.kind()) name = known.name;
  return sdbus::Error(ErrorPrefix().append(name), failure.reason());
}

Status StatusFromError(const sdbus::Error& error) {
  const std::string& name = error.getName();
  const std::string prefix = ErrorPrefix();
  if (name.starts_with(prefix))
    for (const KindName& known : kKindNames)
      if (std::string_view(name).substr(prefix.size()) == known.name) return Status(known.kind, error.getMessage());
  const std::string reason = "the firewall service: " + (error.getMessage().empty() ? name : error.getMessage());
  return name == "org.freedesktop.DBus.Error.AccessDenied" ? AccessDenied(reason) : Failed(reason);
}

}  // namespace bus
