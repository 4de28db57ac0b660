// What crosses the bus: failures as errors named after their kind, with their reason.
#include <gtest/gtest.h>

#include "firewall/bus/bus_protocol.h"
#include "firewall/com/com_runtime.h"
#include "tests/support/status_kind.h"

namespace {

TEST(BusProtocolTest, AFailureComesBackAsTheKindAndReasonItLeftWith) {
  const struct {
    FailureKind kind;
    const char* name;
  } cases[] = {
      {FailureKind::kNotFound, "org.brenvo.Firewall1.Error.NotFound"},
      {FailureKind::kAccessDenied, "org.brenvo.Firewall1.Error.AccessDenied"},
      {FailureKind::kInvalidArgument, "org.brenvo.Firewall1.Error.InvalidArgument"},
      {FailureKind::kBusy, "org.brenvo.Firewall1.Error.Busy"},
      {FailureKind::kFailed, "org.brenvo.Firewall1.Error.Failed"},
  };
  for (const auto& c : cases) {
    const sdbus::Error error = bus::ErrorOf(Status(c.kind, "why: it \"failed\" (0x80070005)"));
    EXPECT_EQ(error.getName(), c.name);
    EXPECT_EQ(error.getMessage(), "why: it \"failed\" (0x80070005)");
    const Status back = bus::StatusOf(error);
    EXPECT_EQ(KindOf(back), c.kind) << c.name;
    EXPECT_EQ(back.reason(), "why: it \"failed\" (0x80070005)");
  }
}

TEST(BusProtocolTest, AnErrorFromElsewhereIsAFailureWithItsMessage) {
  const Status unknown = bus::StatusOf(sdbus::Error("org.freedesktop.DBus.Error.ServiceUnknown", "no brenvod"));
  EXPECT_EQ(KindOf(unknown), FailureKind::kFailed);
  EXPECT_EQ(unknown.reason(), "the firewall service: no brenvod");
  EXPECT_EQ(KindOf(bus::StatusOf(sdbus::Error("org.freedesktop.DBus.Error.AccessDenied", "policy"))),
            FailureKind::kAccessDenied);
  // Only the kinds of the firewall are taken from the name; another name is a failure.
  EXPECT_EQ(KindOf(bus::StatusOf(sdbus::Error("org.brenvo.Firewall1.Error.Gone", "odd"))), FailureKind::kFailed);
  EXPECT_EQ(KindOf(bus::StatusOf(sdbus::Error("org.example.Error.NotFound", "borrowed"))), FailureKind::kFailed);
}

}  // namespace
