#pragma once
// The firewall configuration as the object model reaches it: held by this process
// (LocalFirewall, over the store) or by the system service, reached over the bus. Every
// call reports failure by its Status, with the kind and the reason.
#include <optional>
#include <vector>

#include "firewall/com/records.h"
#include "firewall/com/status.h"

class FirewallConfiguration {
 public:
  virtual ~FirewallConfiguration() = default;

  // Whether the firewall answers now (a service may still be starting).
  virtual Status Ping() = 0;

  virtual Result<bool> ReadFirewallEnabled() = 0;
  virtual Status WriteFirewallEnabled(bool on) = 0;

  // Leaves `entry` empty when no entry has the key: that is no failure.
  virtual Status Find(const AppKey& key, std::optional<AppRecord>* entry) = 0;
  virtual Status Find(const PortKey& key, std::optional<PortRecord>* entry) = 0;
  virtual Status List(std::vector<AppRecord>* entries) = 0;
  virtual Status List(std::vector<PortRecord>* entries) = 0;
  // Adds the entry, or replaces the one with the same key.
  virtual Status Add(const AppRecord& entry) = 0;
  virtual Status Add(const PortRecord& entry) = 0;
  // Succeeds whether or not the key was there.
  virtual Status Remove(const AppKey& key) = 0;
  virtual Status Remove(const PortKey& key) = 0;
  // Fails with kNotFound when no entry has the key.
  virtual Status Update(const AppKey& key, const EntryChange& change) = 0;
  virtual Status Update(const PortKey& key, const EntryChange& change) = 0;

  // Makes the kernel hold the whole stored configuration, in one atomic step.
  virtual Status ApplyAll() = 0;
};
