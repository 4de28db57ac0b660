#pragma once
// The firewall configuration as the object model reaches it: held by this process
// (LocalFirewall, over the store) or by the system service, reached over the bus. Every
// call reports failure by its result, with the reason as the thread's error text.
#include <optional>
#include <vector>

#include "firewall/com/records.h"

class FirewallConfiguration {
 public:
  virtual ~FirewallConfiguration() = default;

  // Whether the firewall answers now (a service may still be starting).
  virtual HRESULT Ping() = 0;

  virtual HRESULT ReadFirewallEnabled(bool* on) = 0;
  virtual HRESULT WriteFirewallEnabled(bool on) = 0;

  // Leaves `entry` empty when no entry has the key: that is no failure.
  virtual HRESULT Find(const AppKey& key, std::optional<AppRecord>* entry) = 0;
  virtual HRESULT Find(const PortKey& key, std::optional<PortRecord>* entry) = 0;
  virtual HRESULT List(std::vector<AppRecord>* entries) = 0;
  virtual HRESULT List(std::vector<PortRecord>* entries) = 0;
  // Adds the entry, or replaces the one with the same key.
  virtual HRESULT Add(const AppRecord& entry) = 0;
  virtual HRESULT Add(const PortRecord& entry) = 0;
  // Succeeds whether or not the key was there.
  virtual HRESULT Remove(const AppKey& key) = 0;
  virtual HRESULT Remove(const PortKey& key) = 0;
  // HRESULT_NOT_FOUND when no entry has the key.
  virtual HRESULT Update(const AppKey& key, const EntryChange& change) = 0;
  virtual HRESULT Update(const PortKey& key, const EntryChange& change) = 0;

  // Makes the kernel hold the whole stored configuration, in one atomic step.
  virtual HRESULT ApplyAll() = 0;
};
