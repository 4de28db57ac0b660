#include "tests/integration/support/netns.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netlink.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

int RunProgram(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

NetnsPair::NetnsPair() {
  const std::string tag = std::to_string(getpid());
  m_a = "brenvo-fw-a-" + tag;
  m_b = "brenvo-fw-b-" + tag;
  m_createdA = RunProgram({"ip", "netns", "add", m_a}) == 0;
  m_createdB = m_createdA && RunProgram({"ip", "netns", "add", m_b}) == 0;
  if (!m_createdB) {
    m_problem = "cannot create network namespaces with `ip netns add`";
    return;
  }
  const std::string vethA = "bva" + tag, vethB = "bvb" + tag;
  const std::vector<std::vector<std::string>> steps = {
      {"ip", "link", "add", vethA, "netns", m_a, "type", "veth", "peer", "name", vethB, "netns", m_b},
      {"ip", "-n", m_a, "addr", "add", std::string(kAddressA) + "/24", "dev", vethA},
      {"ip", "-n", m_b, "addr", "add", std::string(kAddressB) + "/24", "dev", vethB},
      {"ip", "-n", m_a, "addr", "add", std::string(kSecondAddressA) + "/24", "dev", vethA},
      // No duplicate address detection: the addresses are usable at once.
      {"ip", "-n", m_a, "addr", "add", std::string(kAddress6A) + "/64", "dev", vethA, "nodad"},
      {"ip", "-n", m_a, "addr", "add", std::string(kSecondAddress6A) + "/64", "dev", vethA, "nodad"},
      {"ip", "-n", m_b, "addr", "add", std::string(kAddress6B) + "/64", "dev", vethB, "nodad"},
      {"ip", "-n", m_a, "link", "set", vethA, "up"},
      {"ip", "-n", m_b, "link", "set", vethB, "up"},
      {"ip", "-n", m_a, "link", "set", "lo", "up"},
      {"ip", "-n", m_b, "link", "set", "lo", "up"},
  };
  for (const auto& step : steps) {
    if (RunProgram(step) != 0) {
      std::string command;
      for (const std::string& word : step) command += (command.empty() ? "" : " ") + word;
      m_problem = "cannot set up the veth pair between the test namespaces: `" + command + "` failed";
      return;
    }
  }
}

NetnsPair::~NetnsPair() {
  // Deleting a namespace takes its end of the veth pair, and so the whole pair, with it.
  if (m_createdB) RunProgram({"ip", "netns", "del", m_b});
  if (m_createdA) RunProgram({"ip", "netns", "del", m_a});
}

InNamespace::InNamespace(const std::string& name) {
  m_original = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  m_entered = m_original >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
  if (target >= 0) close(target);
}

InNamespace::~InNamespace() {
  if (m_entered) setns(m_original, CLONE_NEWNET);
  if (m_original >= 0) close(m_original);
}

std::string NamespaceTestProblem() {
  if (geteuid() != 0) return "needs root to create network namespaces and change their firewall";
  if (RunProgram({"ip", "-V"}) != 0) return "needs the ip command (iproute2)";
  return "";
}

std::optional<std::uint32_t> RulesetGeneration() {
  const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_NETFILTER);
  if (fd < 0) return std::nullopt;
  struct {
    nlmsghdr header;
    nfgenmsg family;
  } request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = (NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_GETGEN;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.family.nfgen_family = AF_UNSPEC;
  request.family.version = NFNETLINK_V0;
  alignas(nlmsghdr) char reply[512];
  const ssize_t size = send(fd, &request, sizeof request, 0) == sizeof request ? recv(fd, reply, sizeof reply, 0) : -1;
  close(fd);
  const auto* header = reinterpret_cast<const nlmsghdr*>(reply);
  if (size < 0 || !NLMSG_OK(header, static_cast<std::uint32_t>(size)) || (header->nlmsg_type & 0xFF) != NFT_MSG_NEWGEN)
    return std::nullopt;
  const char* attribute = static_cast<const char*>(NLMSG_DATA(header)) + NLMSG_ALIGN(sizeof(nfgenmsg));
  const char* end = reply + header->nlmsg_len;
  while (attribute + NLA_HDRLEN <= end) {
    nlattr field;
    std::memcpy(&field, attribute, sizeof field);
    if (field.nla_len < NLA_HDRLEN || attribute + field.nla_len > end) break;
    if ((field.nla_type & NLA_TYPE_MASK) == NFTA_GEN_ID && field.nla_len >= NLA_HDRLEN + sizeof(std::uint32_t)) {
      std::uint32_t id;
      std::memcpy(&id, attribute + NLA_HDRLEN, sizeof id);
      return ntohl(id);
    }
    attribute += NLA_ALIGN(field.nla_len);
  }
  return std::nullopt;
}
