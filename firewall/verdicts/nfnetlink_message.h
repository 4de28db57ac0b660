#pragma once
// Netfilter netlink messages: their header, as the queue, the log and nftables all take it,
// and the binding of a socket to a queue or a log group.
#include <endian.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter/nfnetlink.h>

#include <cstdint>
#include <string>
#include <vector>

// Puts a message of `type` (subsystem << 8 | message) at `at`, for `family` and the
// subsystem's `resource` (a queue number, say); the caller adds its attributes.
inline nlmsghdr* PutNfnetlinkMessage(char* at, std::uint16_t type, std::uint16_t flags, std::uint8_t family,
                                     std::uint16_t resource) {
  nlmsghdr* message = mnl_nlmsg_put_header(at);
  message->nlmsg_type = type;
  message->nlmsg_flags = NLM_F_REQUEST | flags;
  auto* header = static_cast<nfgenmsg*>(mnl_nlmsg_put_extra_header(message, sizeof(nfgenmsg)));
  header->nfgen_family = family;
  header->version = NFNETLINK_V0;
  header->res_id = htobe16(resource);
  return message;
}

// A netfilter netlink socket of this process, or null with errno set. A full socket loses
// what comes (NETLINK_NO_ENOBUFS) rather than failing the reads.
mnl_socket* OpenNetfilterSocket();
// Sends `config` on `socket` and reads its acknowledgement into `buffer`: 0, or the errno of
// the refusal.
int Configure(mnl_socket* socket, const nlmsghdr* config, std::vector<char>& buffer);
// Why binding to `what` ("queue 4151", say) was refused with `error`.
std::string BindRefusal(int error, const std::string& what);
