// Latency of single firewall changes with a durable commit and the kernel change, and of
// a full re-apply, inside a network namespace of the benchmark's own.
#include <unistd.h>

#include "bench/firewall_store/latency.h"
#include "firewall/local_registration.h"
#include "firewall/nft/nftables_enforcer.h"
#include "firewall/open_firewall.h"
#include "tests/integration/support/netns.h"

int main() {
  if (const std::string problem = NamespaceTestProblem(); !problem.empty()) {
    std::printf("nftables benchmark skipped: %s\n", problem.c_str());
    return 0;
  }
  const NetnsPair netns;
  if (!netns.Problem().empty()) {
    std::printf("nftables benchmark skipped: %s\n", netns.Problem().c_str());
    return 0;
  }
  const InNamespace inside(netns.A());
  auto enforcer = std::make_shared<NftablesEnforcer>();
  const Status may = inside.Entered() ? enforcer->MayChangeKernelFirewall() : Failed("the namespace cannot be entered");
  if (!may.ok()) {
    std::printf("nftables benchmark skipped: %s\n", may.reason().c_str());
    return 0;
  }
  CoInitialize(nullptr);
  PrintHeader("nftables (durable commit and kernel change; firewall on)");
  for (int entries : {0, 1000, 10000}) {
    const BenchDir dir;
    std::printf("(this disk: one fdatasync takes %.3f ms, the floor of a durable commit)\n", dir.SyncFloorMs());
    Populate(dir.Database(), entries);
    if (!RegisterLocalFirewall(dir.Database(), enforcer).ok()) return 1;
    {
      BenchFirewall firewall;
      if (firewall.InitFirewallProfile() != FW_OK || firewall.SwitchFirewallOn() != FW_OK) return 1;
      TimeSingleChanges(firewall, entries, 5);
      TimeSwitches(firewall, entries, 5);
      if (entries == 10000) {
        Samples reapply;
        const FirewallSettings config{dir.Database(), "nftables"};
        for (int i = 0; i < 10; ++i)
          reapply.Time([&] { return ApplyFirewall(config).ok() ? FW_OK : FW_E_PROFILE_STATE; });
        PrintRow("re-apply (--apply)", entries, reapply, 250);
      }
    }
    RevokeFirewallClasses();
  }
  return 0;
}
