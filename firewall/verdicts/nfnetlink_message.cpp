#include "firewall/verdicts/nfnetlink_message.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

mnl_socket* OpenNetfilterSocket() {
  mnl_socket* socket = mnl_socket_open2(NETLINK_NETFILTER, SOCK_CLOEXEC);
  if (socket && mnl_socket_bind(socket, 0, MNL_SOCKET_AUTOPID) < 0) {
    const int error = errno;
    mnl_socket_close(socket);
    errno = error;
    return nullptr;
  }
  if (socket) {
    const int on = 1;
    setsockopt(mnl_socket_get_fd(socket), SOL_NETLINK, NETLINK_NO_ENOBUFS, &on, sizeof on);
  }
  return socket;
}

int Configure(mnl_socket* socket, const nlmsghdr* config, std::vector<char>& buffer) {
  ssize_t size = mnl_socket_sendto(socket, config, config->nlmsg_len);
  if (size >= 0) size = mnl_socket_recvfrom(socket, buffer.data(), buffer.size());
  if (size >= 0 && mnl_cb_run(buffer.data(), static_cast<std::size_t>(size), 0, mnl_socket_get_portid(socket), nullptr,
                              nullptr) >= 0)
    return 0;
  return errno;
}

std::string BindRefusal(int error, const std::string& what) {
  if (error == EBUSY) return what + " is read by another process";
  if (error == EPERM) return "this process may not read " + what + " (it needs CAP_NET_ADMIN)";
  return what + ": " + std::strerror(error);
}
