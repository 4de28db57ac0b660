// The firewall through the system service: each change from the window's objects over the bus
// to brenvod, its durable commit and the nftables change, at 0, 1,000 and 10,000 entries;
// listing 10,000 ports over the bus; On and Off with 10,000 ports open. The same changes made
// in this process over the same kind of store are printed beside them. brenvod runs in a
// network namespace of the benchmark's own, on a private system bus (root only).
//
// usage: firewall_service_bench [FOLDER]
// The stores lie in FOLDER, /var/tmp by default; on a tmpfs such as /dev/shm the disk's sync
// drops out and what is left is the cost of the bus, the store and the kernel change.
#include <signal.h>

#include "bench/firewall_store/latency.h"
#include "firewall/nft/nftables_enforcer.h"
#include "firewall/open_firewall.h"
#include "tests/integration/support/netns.h"
#include "tests/integration/support/service_world.h"

namespace {

void TimeFirewall(int entries) {
  BenchFirewall firewall;
  if (firewall.InitFirewallProfile() != FW_OK || firewall.SwitchFirewallOn() != FW_OK) std::exit(1);
  TimeSingleChanges(firewall, entries, 2, 100);
  TimeSwitches(firewall, entries, 5);
  if (entries == 10000) TimeListing(firewall, entries, 50);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "/var/tmp";
  if (std::string problem = ServiceWorld::Problem(); !problem.empty()) {
    std::printf("service benchmark skipped: %s\n", problem.c_str());
    return 0;
  }
  const NetnsPair netns;
  ServiceWorld world;
  if (!netns.Problem().empty() || !world.Failure().empty()) {
    std::printf("service benchmark skipped: %s%s\n", netns.Problem().c_str(), world.Failure().c_str());
    return 0;
  }
  CoInitialize(nullptr);
  for (int entries : {0, 1000, 10000}) {
    const BenchDir dir(folder);
    std::printf("\n%d entries (this disk: one fdatasync takes %.3f ms, the floor of a durable commit)\n", entries,
                dir.SyncFloorMs());
    const std::string inProcess = dir.Database(), service = dir.Database() + "-service";
    Populate(inProcess, entries);
    Populate(service, entries);
    {
      const InNamespace inside(netns.A());
      if (!RegisterLocalFirewall(inProcess, std::make_shared<NftablesEnforcer>()).ok()) return 1;
      PrintHeader("in this process (nftables)");
      TimeFirewall(entries);
      RevokeFirewallClasses();
    }
    if (!world.StartService(netns.A(), {"--db", service})) {
      std::printf("brenvod did not start: %s\n", world.Failure().c_str());
      return 1;
    }
    if (!RegisterFirewall(FirewallSettings{"", "service"}, {}).ok()) return 1;
    PrintHeader("through the bus (brenvod, nftables)");
    TimeFirewall(entries);
    RevokeFirewallClasses();
    world.StopService(SIGTERM);
  }
  return 0;
}
