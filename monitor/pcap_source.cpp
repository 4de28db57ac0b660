#include "monitor/pcap_source.h"

#include "monitor/local_addresses.h"
#include "monitor/winsock.h"
#include "net/link_layer.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <pcap/pcap.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ws {
namespace {

// The kernel hands over what it captured in blocks: a block is handed over when it is full,
// or this long after its first frame arrived, so that a lone segment is not held back.
// Frames lie packed in a block, each taking only its own size: the kernel's buffer holds
// thousands of them. (Frames handed over one by one, as libpcap's immediate mode does, each
// take the room of the largest datagram; on an interface that merges received segments the
// buffer then holds 64, and a burst of more than that is lost before it is read.) With no
// traffic, a wait wakes for nothing.
constexpr int kBlockTimeoutMs = 10;
// Room for the largest datagram behind any link-layer header we strip.
constexpr int kSnapLength = 65535 + 64;
constexpr int kKernelBuffer = 4 << 20;
constexpr std::size_t kFileBuffer = 64 << 10;

int activationError(int status) {
  switch (status) {
    case PCAP_ERROR_PERM_DENIED: return WSAEACCES;
    default: return WSAENETDOWN;
  }
}

}  // namespace

PcapSource::PcapSource(std::string captureFile) : m_captureFile(std::move(captureFile)) {}

PcapSource::~PcapSource() {
  if (pcap* handle = m_handle.load()) pcap_close(handle);
}

int PcapSource::Open() {
  if (!m_captureFile.empty()) {
    // libpcap reads a file a record at a time through stdio: a large buffer spares a
    // system call every few records, and as only the capture thread reads the file,
    // stdio need not lock it for every record.
    m_fileBuffer = std::make_unique_for_overwrite<char[]>(kFileBuffer);
    std::FILE* file = std::fopen(m_captureFile.c_str(), "rbe");
    if (file == nullptr || std::setvbuf(file, m_fileBuffer.get(), _IOFBF, kFileBuffer) != 0) {
      if (file != nullptr) std::fclose(file);
      return WSAENETDOWN;
    }
    __fsetlocking(file, FSETLOCKING_BYCALLER);
    char error[PCAP_ERRBUF_SIZE];
    pcap* handle = pcap_fopen_offline(file, error);  // closes the file with the handle
    if (handle == nullptr) {
      std::fclose(file);
      return WSAENETDOWN;
    }
    m_linkType = pcap_datalink(handle);
    m_handle = handle;
    return 0;
  }
  // Like a raw socket, capturing needs CAP_NET_RAW; ask the kernel now rather than at
  // the receive-all switch, so that the failure comes from socket creation.
  const int probe = ::socket(AF_PACKET, SOCK_RAW, 0);
  if (probe < 0) return errno == EPERM || errno == EACCES ? WSAEACCES : WSAESOCKTNOSUPPORT;
  ::close(probe);
  return 0;
}

int PcapSource::Bind(std::uint32_t address) {
  m_address = address;
  if (!m_captureFile.empty()) return 0;  // a capture file is reviewed whole, whatever address it shows
  for (const InterfaceAddress& entry : InterfaceAddresses()) {
    if (entry.address == address) {
      m_interface = entry.interface;
      m_loopback = entry.loopback;
      break;
    }
  }
  return m_interface.empty() ? WSAEADDRNOTAVAIL : 0;
}

int PcapSource::Start() { return m_captureFile.empty() ? StartLive() : 0; }

int PcapSource::StartLive() {
  char error[PCAP_ERRBUF_SIZE];
  pcap* handle = pcap_create(m_interface.c_str(), error);
  if (handle == nullptr) return WSAENETDOWN;
  pcap_set_snaplen(handle, kSnapLength);
  pcap_set_promisc(handle, 0);
  pcap_set_immediate_mode(handle, 0);
  pcap_set_timeout(handle, kBlockTimeoutMs);
  pcap_set_buffer_size(handle, kKernelBuffer);
  if (const int status = pcap_activate(handle); status < 0) {
    pcap_close(handle);
    return activationError(status);
  }
  char text[INET_ADDRSTRLEN];
  ::inet_ntop(AF_INET, &m_address, text, sizeof text);
  const std::string expression = std::string("ip host ") + text;
  bpf_program program;
  const bool filtered = pcap_compile(handle, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
  const bool installed = filtered && pcap_setfilter(handle, &program) == 0;
  if (filtered) pcap_freecode(&program);
  // Loopback shows every datagram twice, once leaving and once arriving: keep one.
  if (!installed || (m_loopback && pcap_setdirection(handle, PCAP_D_IN) != 0)) {
    pcap_close(handle);
    return WSAENETDOWN;
  }
  m_linkType = pcap_datalink(handle);
  m_handle = handle;
  return 0;
}

int PcapSource::Receive(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) {
  return CopyNextDatagram(buffer, capacity, received, true);
}

int PcapSource::ReceiveReady(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) {
  return CopyNextDatagram(buffer, capacity, received, false);
}

int PcapSource::ReceiveBatch(std::span<std::uint8_t> scratch, const DatagramTaker& take) {
  if (!m_captureFile.empty()) return CaptureSource::ReceiveBatch(scratch, take);
  // The rest of a batch would be taken without waiting, and switching a live handle out of
  // waiting and back costs libpcap several system calls and remakes the descriptor through
  // which a stop on another thread wakes it.
  std::span<const std::uint8_t> datagram;
  if (const int error = NextDatagram(scratch, true, datagram)) return error;
  take(datagram);
  return 0;
}

int PcapSource::NextDatagram(std::span<std::uint8_t>, bool wait, std::span<const std::uint8_t>& datagram) {
  pcap* handle = m_handle.load();
  const bool live = m_captureFile.empty();
  // A file is read at once anyway; a live handle is switched only when the caller changes
  // between waiting and not.
  if (live && m_waits != wait) {
    char error[PCAP_ERRBUF_SIZE];
    if (pcap_setnonblock(handle, wait ? 0 : 1, error) != 0) return WSAENETDOWN;
    m_waits = wait;
  }
  for (;;) {
    if (m_woken) return WSAEDISCON;
    pcap_pkthdr* header = nullptr;
    const std::uint8_t* frame = nullptr;
    const int status = pcap_next_ex(handle, &header, &frame);
    if (status == 0 && !wait) return WSAEWOULDBLOCK;
    if (status == 0 || (status == PCAP_ERROR_BREAK && live))
      continue;                                         // read timeout or a break: look at the wake flag again
    if (status == PCAP_ERROR_BREAK) return WSAEDISCON;  // end of the capture file
    if (status < 0) return WSAENETDOWN;
    datagram = net::Ipv4Payload(m_linkType, {frame, header->caplen});
    if (!datagram.empty()) return 0;
  }
}

void PcapSource::Wake() {
  m_woken = true;
  if (m_captureFile.empty())
    if (pcap* handle = m_handle.load()) pcap_breakloop(handle);
}

}  // namespace ws
