// Latency of single firewall changes on the store alone, with durable commits, and of a
// full listing.
#include "bench/firewall_store/latency.h"
#include "firewall/local_registration.h"
#include "firewall/nft/enforcer.h"

int main() {
  CoInitialize(nullptr);
  PrintHeader("Firewall store (durable commits, nothing enforced in the kernel)");
  for (int entries : {0, 1000, 10000}) {
    const BenchDir dir;
    std::printf("(this disk: one fdatasync takes %.3f ms, the floor of a durable commit)\n", dir.SyncFloorMs());
    Populate(dir.Database(), entries);
    if (!RegisterLocalFirewall(dir.Database(), std::make_shared<StoreOnlyEnforcer>()).ok()) return 1;
    {
      BenchFirewall firewall;
      if (firewall.InitFirewallProfile() != FW_OK) return 1;
      TimeSingleChanges(firewall, entries, 2);
      if (entries == 10000) TimeListing(firewall, entries, 50);
    }
    RevokeFirewallClasses();
  }
  return 0;
}
