// Another process on a firewall store, as a second Brenvo would be: opens the store, then
//   store_client DB has PORT...   succeeds when each TCP port is stored and enabled;
//   store_client DB add PORT...   adds each TCP port and reads it back;
// and closes the store again. Exit status 0 on success, 1 when a port fails, 2 on misuse.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "firewall/com/com_runtime.h"
#include "firewall/local_registration.h"
#include "firewall/nft/enforcer.h"
#include "tests/firewall/test_firewall.h"

int main(int argc, char** argv) {
  if (argc < 3 || (std::strcmp(argv[2], "has") != 0 && std::strcmp(argv[2], "add") != 0)) return 2;
  const bool add = std::strcmp(argv[2], "add") == 0;
  CoInitialize(nullptr);
  if (!RegisterLocalFirewall(argv[1], std::make_shared<StoreOnlyEnforcer>()).ok()) return 2;
  TestFirewall firewall;
  if (firewall.InitFirewallProfile() != FW_OK) return 2;
  for (int i = 3; i < argc; ++i) {
    const LONG port = std::atoi(argv[i]);
    BOOL enabled = FALSE;
    if (add && firewall.AddPort(port, NET_FW_IP_PROTOCOL_TCP, u"other process") != FW_OK) return 1;
    if (firewall.QueryPortEnabled(port, NET_FW_IP_PROTOCOL_TCP, &enabled) != FW_OK || !enabled) return 1;
  }
  return 0;
}
