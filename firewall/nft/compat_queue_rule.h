#pragma once
// The queue rule of chain app_queue for a kernel without nftables' own queue statement
// (nft_queue): the xtables NFQUEUE target through nft_compat, as iptables-nft writes it.
// libnftables cannot write such a rule, so it goes to the kernel as a netlink batch of
// its own, in the calling thread's network namespace.
#include "firewall/com/status.h"

// Appends the rule, queue kAppQueue without "bypass", to app_queue of `inet brenvo`.
// A failure's reason says why.
Status AddCompatQueueRule();
