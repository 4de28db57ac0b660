#include "daemon/bus_departures.h"

BusDepartures::BusDepartures(sdbus::IConnection& connection) {
  m_match = connection.addMatch(
      "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged'",
      [this](sdbus::Message& message) {
        std::string name, before, after;
        message >> name >> before >> after;
        if (!after.empty() || !name.starts_with(':')) return;
        for (const Gone& gone : m_told) gone(name);
      });
}

void BusDepartures::Tell(Gone gone) { m_told.push_back(std::move(gone)); }
