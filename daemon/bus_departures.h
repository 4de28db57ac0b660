#pragma once
// Who leaves the system bus: the service forgets what a client held (its captures, its watch
// of blocked flows) once the client's connection is gone, whether or not it said goodbye.
#include <functional>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

class BusDepartures {
 public:
  using Gone = std::function<void(const std::string& client)>;

  explicit BusDepartures(sdbus::IConnection& connection);
  BusDepartures(const BusDepartures&) = delete;
  BusDepartures& operator=(const BusDepartures&) = delete;

  // Calls `gone` on the bus's thread with the unique name of each client that leaves, for as
  // long as this object lives: whatever `gone` uses must stay while the bus is served.
  void Tell(Gone gone);

 private:
  std::vector<Gone> m_told;
  sdbus::Slot m_match;
};
