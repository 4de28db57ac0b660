#pragma once
// An in-memory firewall behind the class registry, in front of any other registration,
// in which any single call can be made to fail. Its objects are counted by
// ComObjectsInUse(), so a test can tell that every reference was released.
#include <map>
#include <string>
#include <vector>

#include "firewall/com/netfw.h"

class FakeFirewall {
 public:
  struct App {
    std::u16string path;
    std::u16string name;
    VARIANT_BOOL enabled;
    bool operator==(const App&) const = default;
  };
  struct Port {
    LONG number;
    LONG protocol;
    std::u16string name;
    VARIANT_BOOL enabled;
    bool operator==(const Port&) const = default;
  };

  FakeFirewall();
  ~FakeFirewall();
  FakeFirewall(const FakeFirewall&) = delete;
  FakeFirewall& operator=(const FakeFirewall&) = delete;

  // Makes `call` fail `times` times (-1: for good) once it has succeeded `after` times.
  // Calls are named "Interface::method", and "CoCreateInstance(Class)" for the classes.
  void Fail(const std::string& call, int times = -1, int after = 0);
  // How often `call` was made.
  int Calls(const std::string& call) const;

  // Called by the fake's objects: counts the call and says whether it is to fail.
  bool Failing(const std::string& call);

  VARIANT_BOOL firewallEnabled = VARIANT_FALSE;
  std::vector<App> apps;
  std::vector<Port> ports;

 private:
  struct Failure {
    int times;
    int after;
  };
  std::map<std::string, Failure> m_failures;
  std::map<std::string, int> m_calls;
  std::vector<DWORD> m_cookies;
};
