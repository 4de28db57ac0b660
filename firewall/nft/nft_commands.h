#pragma once
// The nftables commands of the table Brenvo owns, `inet brenvo`, as JSON. Only numbers and fixed words
// go into them, never a name or a path, so stored text cannot become a rule.
#include <cstdint>
#include <optional>
#include <string>

#include "firewall/nft/enforcer.h"
#include "firewall/verdicts/app_queue.h"
#include "firewall/verdicts/drop_log_group.h"

namespace nft {

// The chain whose one rule sends a packet to that queue.
inline constexpr const char* kAppQueueChain = "app_queue";

// What the kernel's nftables can do beyond the basics, as its probes below tell.
struct KernelFeatures {
  bool queueStatement = false;    // nftables' own queue statement
  bool socketExpression = false;  // the socket expression, in the input hook
};

// Drops the table if present and builds it again, all in one transaction: the set of
// `state`'s open ports always, the input chain only while the firewall is on, and the
// chains of the authorized applications (see AuthorizedAppsCommand). app_queue's rule, which
// sends to the queue, is nftables' own queue statement where the `kernel` has one (elsewhere
// see AddCompatQueueRule). Empty when a port is out of range or not TCP or UDP.
std::optional<std::string> ReplaceTableCommand(const EnforcedState& state, const KernelFeatures& kernel);

// Makes the table closed where there is none: the firewall on, nothing open, no program, so
// that only loopback, established and related traffic and the ICMPv6 that IPv6 needs come
// in. Where the table exists it fails and leaves it as it is.
std::string ClosedTableCommand();

// Lists the table: it succeeds exactly where the table exists.
std::string ListTableCommand();

// Adds the input chain (on) or deletes it (off). The port set stays loaded either way, so
// switching costs the same however many ports are open.
std::string SwitchCommand(bool on);

// Adds (open) or deletes (closed) one port's element of the port set, whether the firewall
// is on or off. Empty when the port
// is out of range or not TCP or UDP.
std::optional<std::string> PortElementCommand(const PortKey& port, bool open);

// Fills the chain authorized_apps anew: while `any` application is enabled, new TCP
// connections (SYN without ACK) and new UDP flows that no earlier rule accepted go on to
// the chain app_queue, whose one rule sends them to the queue, and later packets of a flow
// that was let in are accepted; otherwise nothing is. With the `kernel`'s socket expression
// only flows that some local socket would receive go on: the verdict on the others is
// "drop" in any case, and a scan of closed ports then costs the verdicts nothing. The queue
// rule itself stays as the table was made: unreached, it costs nothing.
std::string AuthorizedAppsCommand(bool any, const KernelFeatures& kernel);

// The chain the input chain ends with, just before its policy drops what is left.
inline constexpr const char* kDropLogChain = "drop_log";

// Fills the chain drop_log anew: the first packet of each new TCP connection (SYN without
// ACK) or UDP flow that reaches it is copied to the NFLOG group kDropLogGroup, at most
// kDropLogRate a second after a burst of kDropLogBurst. With the `kernel`'s socket
// expression, flows that a local socket would receive get that much again, apart from the
// rest. A copy only: the packet goes on to be dropped. Apart from the table, so that a
// kernel without the log statement still gets the rest of the firewall.
std::string DropLogCommand(const KernelFeatures& kernel);

// Make and drop a scratch table with a queue rule, or with a rule on whether a socket
// would receive a packet in an input chain: they succeed where the kernel has nftables'
// queue statement, or its socket expression.
std::string QueueStatementProbeCommand();
std::string SocketExpressionProbeCommand();

// Makes and drops a scratch table in one transaction: it succeeds exactly where this
// process may change the kernel firewall, and leaves nothing behind.
std::string ProbeCommand();

}  // namespace nft
