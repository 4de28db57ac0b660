#pragma once
// A message bus of the test's own: dbus-daemon with a configuration made here, listening on
// a socket in a temporary folder, and DBUS_SYSTEM_BUS_ADDRESS pointing at it for this process
// and its children while it lives. Any user can run one; by default it lets every client own
// any name and call anyone, and `policy` (bus configuration elements) replaces that.
#include <sys/types.h>

#include <string>

class PrivateBus {
 public:
  // An open policy: every name may be owned, every call made.
  static constexpr const char* kOpenPolicy =
      "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
      "<allow send_type=\"method_call\"/><allow send_type=\"method_return\"/><allow send_type=\"error\"/>"
      "<allow send_type=\"signal\"/><allow receive_type=\"method_call\"/><allow receive_type=\"method_return\"/>"
      "<allow receive_type=\"error\"/><allow receive_type=\"signal\"/></policy>";

  // `folder` must exist and be reachable by the bus's users.
  explicit PrivateBus(const std::string& folder, const std::string& policy = kOpenPolicy);
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  // Empty when the bus is up; otherwise what went wrong.
  const std::string& Failure() const { return m_failure; }

 private:
  std::string m_failure;
  pid_t m_daemon = -1;
};
