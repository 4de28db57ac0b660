#include "firewall/nft/compat_queue_rule.h"

#include <endian.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nf_tables_compat.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netfilter/x_tables.h>
#include <linux/netfilter/xt_NFQUEUE.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "firewall/nft/nft_commands.h"
#include "firewall/verdicts/nfnetlink_message.h"

namespace {

struct SocketCloser {
  void operator()(mnl_socket* socket) const { mnl_socket_close(socket); }
};

void PutRule(nlmsghdr* message) {
  mnl_attr_put_strz(message, NFTA_RULE_TABLE, "brenvo");
  mnl_attr_put_strz(message, NFTA_RULE_CHAIN, nft::kAppQueueChain);
  nlattr* expressions = mnl_attr_nest_start(message, NFTA_RULE_EXPRESSIONS);
  nlattr* element = mnl_attr_nest_start(message, NFTA_LIST_ELEM);
  mnl_attr_put_strz(message, NFTA_EXPR_NAME, "target");
  nlattr* data = mnl_attr_nest_start(message, NFTA_EXPR_DATA);
  mnl_attr_put_strz(message, NFTA_TARGET_NAME, "NFQUEUE");
  mnl_attr_put_u32(message, NFTA_TARGET_REV, htobe32(3));
  // Flags 0: no bypass, so that the kernel drops what no one reads.
  union {
    xt_NFQ_info_v3 info;
    char bytes[XT_ALIGN(sizeof(xt_NFQ_info_v3))];
  } target{};
  target.info.queuenum = kAppQueue;
  target.info.queues_total = 1;
  mnl_attr_put(message, NFTA_TARGET_INFO, sizeof target.bytes, target.bytes);
  mnl_attr_nest_end(message, data);
  mnl_attr_nest_end(message, element);
  mnl_attr_nest_end(message, expressions);
}

Status Fail(const std::string& why) {
  return Failed("nftables: adding the queue rule of the authorized applications: " + why);
}

}  // namespace

Status AddCompatQueueRule() {
  const std::unique_ptr<mnl_socket, SocketCloser> socket(mnl_socket_open2(NETLINK_NETFILTER, SOCK_CLOEXEC));
  if (!socket || mnl_socket_bind(socket.get(), 0, MNL_SOCKET_AUTOPID) < 0) return Fail(std::strerror(errno));
  alignas(nlmsghdr) char batch[1024];
  char* end = batch;
  end += PutNfnetlinkMessage(end, NFNL_MSG_BATCH_BEGIN, 0, AF_UNSPEC, NFNL_SUBSYS_NFTABLES)->nlmsg_len;
  nlmsghdr* rule = PutNfnetlinkMessage(end, NFNL_SUBSYS_NFTABLES << 8 | NFT_MSG_NEWRULE,
                                       NLM_F_CREATE | NLM_F_APPEND | NLM_F_ACK, NFPROTO_INET, 0);
  PutRule(rule);
  end += rule->nlmsg_len;
  end += PutNfnetlinkMessage(end, NFNL_MSG_BATCH_END, 0, AF_UNSPEC, NFNL_SUBSYS_NFTABLES)->nlmsg_len;
  if (mnl_socket_sendto(socket.get(), batch, static_cast<std::size_t>(end - batch)) < 0)
    return Fail(std::strerror(errno));
  // The rule asked for an acknowledgement: its error, or 0.
  alignas(nlmsghdr) char reply[8192];
  const ssize_t size = mnl_socket_recvfrom(socket.get(), reply, sizeof reply);
  if (size < 0) return Fail(std::strerror(errno));
  const int rc =
      mnl_cb_run(reply, static_cast<std::size_t>(size), 0, mnl_socket_get_portid(socket.get()), nullptr, nullptr);
  return rc < 0 ? Fail(std::strerror(errno)) : Status();
}
