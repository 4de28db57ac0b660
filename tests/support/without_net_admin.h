#pragma once
// Takes CAP_NET_ADMIN out of the calling thread's effective capabilities for the life of
// the object, so that the thread may not change the kernel firewall even as root. Threads
// started meanwhile inherit the reduced set.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

class WithoutNetAdmin {
 public:
  WithoutNetAdmin() {
    syscall(SYS_capget, &m_header, m_saved);
    __user_cap_data_struct reduced[_LINUX_CAPABILITY_U32S_3];
    std::copy(std::begin(m_saved), std::end(m_saved), std::begin(reduced));
    reduced[CAP_TO_INDEX(CAP_NET_ADMIN)].effective &= ~CAP_TO_MASK(CAP_NET_ADMIN);
    syscall(SYS_capset, &m_header, reduced);
  }
  ~WithoutNetAdmin() { syscall(SYS_capset, &m_header, m_saved); }
  WithoutNetAdmin(const WithoutNetAdmin&) = delete;
  WithoutNetAdmin& operator=(const WithoutNetAdmin&) = delete;

 private:
  __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct m_saved[_LINUX_CAPABILITY_U32S_3]{};
};
