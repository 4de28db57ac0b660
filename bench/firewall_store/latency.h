#pragma once
// What the firewall benchmarks share: timing, medians, the printed table, a firewall
// without a window, a store filled in one go, and the single changes to time.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "firewall/com/com_runtime.h"
#include "firewall/firewall.h"
#include "firewall/store/firewall_store.h"

class Samples {
 public:
  void Add(double value) { m_ms.push_back(value); }
  template <class Operation>
  void Time(Operation operation) {
    const auto start = std::chrono::steady_clock::now();
    const FW_ERROR_CODE code = operation();
    m_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (code != FW_OK) {
      std::fprintf(stderr, "operation failed with code %d: %s\n", code, TakeErrorInfoText().c_str());
      std::exit(1);
    }
  }
  double Percentile(double share) {
    std::sort(m_ms.begin(), m_ms.end());
    return m_ms.empty() ? 0 : m_ms[static_cast<std::size_t>(share * (m_ms.size() - 1))];
  }

 private:
  std::vector<double> m_ms;
};

inline void PrintHeader(const char* title) {
  std::printf("%s\n%-22s %8s %11s %11s %9s\n", title, "operation", "entries", "median ms", "p90 ms", "budget");
}

inline void PrintRow(const char* operation, int entries, Samples& samples, double budgetMs) {
  const double median = samples.Percentile(0.5);
  std::printf("%-22s %8d %11.3f %11.3f %6.0f ms%s\n", operation, entries, median, samples.Percentile(0.9), budgetMs,
              median <= budgetMs ? "" : "  OVER BUDGET");
}

// The main window's firewall without the window: listings are counted, failures end the run.
class BenchFirewall : public CFirewall, public IProgramRowSink, public IPortRowSink {
 public:
  std::size_t rows = 0;
  void AddProgramRow(std::string, std::string, int) override { ++rows; }
  void AddPortRow(std::string, std::string, std::string, int) override { ++rows; }

 protected:
  void ShowFirewallUnavailable() override { std::fprintf(stderr, "the firewall cannot be opened\n"); }
  void EndMainDialog(int) override { std::exit(1); }
  IProgramRowSink* ProgramRows() override { return this; }
  IPortRowSink* PortRows() override { return this; }
};

inline std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Puts `entries` enabled TCP ports (1 upwards) and as many applications in the store.
inline void Populate(const std::string& path, int entries) {
  std::unique_ptr<FirewallStore> store;
  if (!FirewallStore::Open(path, &store).ok() || !store->Begin().ok()) std::exit(1);
  for (int i = 1; i <= entries; ++i)
    if (!store->Table<PortKey>().Put(PortRecord{PortKey{i, 6}, u"bench port", true}).ok() ||
        !store->Table<AppKey>().Put(AppRecord{Wide("/opt/bench/app-" + std::to_string(i)), u"bench app", true}).ok())
      std::exit(1);
  if (!store->Commit().ok()) std::exit(1);
}

// The single changes that a user's click makes, each `count` times, on ports and
// applications that are not among the `entries` already present.
inline void TimeSingleChanges(BenchFirewall& firewall, int entries, double budgetMs, int count = 200) {
  Samples add, toggle, remove, addApp;
  for (LONG i = 0; i < count; ++i) add.Time([&] { return firewall.AddPort(30000 + i, 6, u"bench"); });
  for (LONG i = 0; i < count; ++i) {
    toggle.Time([&] { return firewall.TogglePortEnabled(30000 + i, 6, 1); });
    toggle.Time([&] { return firewall.TogglePortEnabled(30000 + i, 6, 0); });
  }
  for (LONG i = 0; i < count; ++i) remove.Time([&] { return firewall.RemovePort(30000 + i, 6); });
  for (int i = 0; i < count; ++i) {
    const std::u16string path = Wide("/usr/local/bin/bench-" + std::to_string(i));
    addApp.Time([&] { return firewall.AddApp(path.c_str(), u"bench"); });
  }
  PrintRow("AddPort", entries, add, budgetMs);
  PrintRow("TogglePortEnabled", entries, toggle, budgetMs);
  PrintRow("RemovePort", entries, remove, budgetMs);
  PrintRow("AddApp", entries, addApp, budgetMs);
}

// On and Off, 20 times each, on a firewall that is on.
inline void TimeSwitches(BenchFirewall& firewall, int entries, double budgetMs) {
  Samples on, off;
  for (int i = 0; i < 20; ++i) {
    off.Time([&] { return firewall.SwitchFirewallOff(); });
    on.Time([&] { return firewall.SwitchFirewallOn(); });
  }
  PrintRow("SwitchFirewallOn", entries, on, budgetMs);
  PrintRow("SwitchFirewallOff", entries, off, budgetMs);
}

// The listing of every one of `entries` open ports, 20 times.
inline void TimeListing(BenchFirewall& firewall, int entries, double budgetMs) {
  Samples listing;
  for (int i = 0; i < 20; ++i) {
    listing.Time([&] {
      firewall.rows = 0;
      firewall.ListOpenPorts();
      return firewall.rows == static_cast<std::size_t>(entries) ? FW_OK : FW_E_PORT_COLLECTION;
    });
  }
  PrintRow("ListOpenPorts", entries, listing, budgetMs);
}

// A fresh folder, removed at the end: on disk by default (not tmpfs, so that syncs cost what
// they cost), or under `base`.
class BenchDir {
 public:
  explicit BenchDir(const std::string& base = "/var/tmp") {
    std::string pattern = base + "/brenvo-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) std::exit(1);
    m_path = pattern;
  }
  ~BenchDir() { std::filesystem::remove_all(m_path); }
  std::string Database() const { return m_path + "/firewall.db"; }

  // The median time of one fdatasync here: no durable commit can be faster.
  double SyncFloorMs() const {
    const std::string path = m_path + "/sync-probe";
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    Samples syncs;
    const char page[4096] = {};
    for (int i = 0; i < 50; ++i) {
      syncs.Time([&] {
        const bool written = pwrite(fd, page, sizeof page, (i % 8) * 4096) == sizeof page && fdatasync(fd) == 0;
        return written ? FW_OK : FW_E_PROFILE_STATE;
      });
    }
    close(fd);
    unlink(path.c_str());
    return syncs.Percentile(0.5);
  }

 private:
  std::string m_path;
};
