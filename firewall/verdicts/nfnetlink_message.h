#pragma once
// The header of a netfilter netlink message, as the queue and nftables both take it.
#include <endian.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter/nfnetlink.h>

#include <cstdint>

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
