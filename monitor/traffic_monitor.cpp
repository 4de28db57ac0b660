#include "monitor/traffic_monitor.h"

#include "monitor/local_addresses.h"
#include "monitor/pcap_source.h"
#include "monitor/text_format.h"
#include "net/ipv4.h"
#include "net/transport.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <system_error>

namespace {

// One log line, made in place without allocating. A line is at most about 160 bytes: two
// addresses, five numbers, the longest flags text (36) and a marker. Should a field ever
// make it longer, the line is refused rather than written past the end.
class LineBuilder {
 public:
  LineBuilder& address(std::uint32_t address) {
    if (kDottedAddressMax > static_cast<std::size_t>(std::end(m_text) - m_end))
      m_overflowed = true;
    else
      m_end = WriteDottedAddress(m_end, address);
    return *this;
  }
  LineBuilder& operator<<(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(std::end(m_text) - m_end))
      m_overflowed = true;
    else
      m_end = std::copy(text.begin(), text.end(), m_end);
    return *this;
  }
  template <typename Number>
  LineBuilder& number(Number value) {
    const auto [end, error] = std::to_chars(m_end, std::end(m_text), value);
    if (error == std::errc())
      m_end = end;
    else
      m_overflowed = true;
    return *this;
  }
  // Nothing when a part did not fit.
  std::optional<std::string_view> text() const {
    if (m_overflowed) return std::nullopt;
    return std::string_view(m_text, static_cast<std::size_t>(m_end - m_text));
  }

 private:
  char m_text[256];
  char* m_end = m_text;
  bool m_overflowed = false;
};

// Set while captures read a file rather than an interface.
std::atomic<bool> g_readingCaptureFile{false};

}  // namespace

CTrafficMonitor::CTrafficMonitor(PacketSink& packets, const std::string& logDirectory)
    : CTrafficMonitor(packets, LogFile::Open(logDirectory + "/Logger.txt")) {}

CTrafficMonitor::CTrafficMonitor(PacketSink& packets, LogFile log) : m_logFile(std::move(log)), m_packets(packets) {
  try {
    ws::WSADATA data;
    if (const int result = ws::WSAStartup(0x0202, &data)) {
      std::printf("WSAStartup() failed: %d\n", result);
      std::fflush(stdout);
      return;
    }
    ListLocalAddresses(m_addresses);
  } catch (...) {
    // Set-up problems leave the monitor without log or addresses; the page is built anyway.
  }
}

CTrafficMonitor::~CTrafficMonitor() { StopCapture(); }

std::size_t CTrafficMonitor::s_maxSessions = SessionList::kDefaultLimit;

void CTrafficMonitor::SetMaxSessions(std::size_t limit) { s_maxSessions = limit; }

void CTrafficMonitor::SetCaptureFile(const std::string& path) {
  g_readingCaptureFile = !path.empty();
  if (path.empty())
    ws::SetSourceFactory(nullptr);
  else
    ws::SetSourceFactory([path] { return std::make_unique<ws::PcapSource>(path); });
}

bool CTrafficMonitor::ListLocalAddresses(std::vector<std::string>& addresses) {
  const auto found = ws::CaptureAddresses(ws::InterfaceAddresses());
  addresses.insert(addresses.end(), found.begin(), found.end());
  return !found.empty();
}

std::string CTrafficMonitor::SelectedInterface() const {
  const auto first = std::min_element(m_addresses.begin(), m_addresses.end());
  return first == m_addresses.end() ? std::string() : *first;
}

void CTrafficMonitor::StartCapture() {
  if (m_captureStarted || m_bStop) return;
  m_bindAddress = SelectedInterface();
  if (m_bindAddress.empty()) {
    // A live capture without an address has nothing to bind and stays off; a capture
    // file shows its own traffic, whatever the host's interfaces.
    if (!g_readingCaptureFile) return;
    m_bindAddress = "0.0.0.0";
  }
  m_captureStarted = true;
  m_hThread = std::thread(CaptureThreadProc, this);
}

std::uint32_t CTrafficMonitor::CaptureThreadProc(void* monitor) {
  auto* self = static_cast<CTrafficMonitor*>(monitor);
  self->m_dwThreadId = static_cast<std::uint32_t>(::syscall(SYS_gettid));
  // Named, so that a profile or a benchmark can tell its processor time from the window's.
  ::pthread_setname_np(::pthread_self(), "capture");
  self->CaptureLoop();
  return 0;
}

void CTrafficMonitor::StopCapture() {
  m_bStop = true;
  if (!m_hThread.joinable()) return;
  // The loop publishes its socket before its first look at the stop flag, so either it
  // sees the flag or we see the socket and wake its receive.
  if (const ws::SOCKET s = m_socket.load(); s != ws::INVALID_SOCKET) ws::shutdown(s, ws::SD_RECEIVE);
  m_packets.CancelDelivery();
  m_hThread.join();
}

bool CTrafficMonitor::CaptureLoop() {
  using namespace ws;
  const SOCKET s = WSASocketA(AF_INET, SOCK_RAW, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (s == INVALID_SOCKET) {
    std::printf("WSASocket() failed: %d\n", WSAGetLastError());
    std::fflush(stdout);
    return false;
  }
  m_socket = s;
  const auto end = [&] {
    m_socket = INVALID_SOCKET;
    closesocket(s);
    WSACleanup();
  };

  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = 0;
  local.sin_addr.s_addr = inet_addr(m_bindAddress.c_str());
  if (ws::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
    std::printf("bind() failed: %d\n", WSAGetLastError());
    std::fflush(stdout);
    end();
    return false;
  }
  std::printf("Binding to: ");
  std::printf("\n");
  std::fflush(stdout);

  std::uint32_t on = RCVALL_ON, returned = 0;
  if (WSAIoctl(s, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr) == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    std::printf("WSAIotcl(0x%x) failed: %d\n", static_cast<unsigned>(SIO_RCVALL), error);
    if (error == WSAEINVAL) std::printf("NOTE: IPv6 does not currently support the SIO_RCVALL* ioctls\n");
    std::fflush(stdout);
    end();
    return false;
  }

  const std::unique_ptr<char, decltype(&std::free)> buffer(static_cast<char*>(std::malloc(kReceiveBufferSize)),
                                                           &std::free);
  if (!buffer) {
    std::fprintf(stderr, "HeapAlloc failed: %d\n", errno);
    end();
    return false;
  }
  const WSABUF descriptor{kReceiveBufferSize, buffer.get()};
  const CaptureSource::DatagramTaker decode = [this](std::span<const std::uint8_t> datagram) {
    // An IPv4 datagram never exceeds 65,535 bytes; a larger capture can only be an offload
    // artefact, and the decoder reads headers only.
    DecodeIpPacket(datagram.data(),
                   static_cast<std::uint32_t>(std::min<std::size_t>(datagram.size(), kReceiveBufferSize)));
    return !m_bStop.load(std::memory_order_relaxed);
  };
  while (!m_bStop) {
    // The datagrams that are there together, with one look-up of the socket.
    if (WSARecvBatch(s, &descriptor, decode) == SOCKET_ERROR) {
      // A stop, or the end of a capture file, ends the loop quietly.
      if (const int error = WSAGetLastError(); error != WSAEDISCON) {
        std::printf("WSARecv() failed: %d\n", error);
        std::fflush(stdout);
      }
      break;
    }
    m_packets.EndOfBurst();
  }
  end();
  return true;
}

bool CTrafficMonitor::DecodeIpPacket(const std::uint8_t* data, std::uint32_t length) {
  try {
    // The total length is 16 bits: a longer capture is no IPv4 datagram.
    if (length > 0xFFFF) return false;
    const auto ip = net::ParseIpv4({data, length});
    if (!ip || ip->protocol != net::kProtocolTcp) return false;
    TrackTcpSegment(ip->sourceAddress, ip->destinationAddress, ip->payload);
    return true;
  } catch (...) {
    return false;
  }
}

void CTrafficMonitor::AddressToText(std::uint32_t address, std::string& text) { text = DottedAddress(address); }

bool CTrafficMonitor::TrackTcpSegment(std::uint32_t srcAddress, std::uint32_t dstAddress,
                                      std::span<const std::uint8_t> segment) {
  const auto tcp = net::ParseTcp(segment);
  if (!tcp) return false;
  try {
    // Options count as size: the fixed header is all that is read.
    const auto size = static_cast<std::int32_t>(segment.size() - net::TcpHeader::kFixedLength);
    const std::int32_t srcPort = tcp->sourcePort, dstPort = tcp->destinationPort;
    std::string_view marker;
    Session* session = m_sessions.Find(srcAddress, srcPort, dstAddress, dstPort);
    const std::uint32_t seq = tcp->sequence;
    const unsigned flags = tcp->flags;
    using net::TcpHeader;
    if (session == nullptr) {
      // A session dropped to make room comes back as a new one with its next segment,
      // unless that segment ends it.
      const Session opened{srcPort, dstPort, srcAddress, dstAddress, seq};
      const bool syn = flags & TcpHeader::kSyn;
      const bool dropped = !syn && m_sessions.TakeDropped(opened);
      if (syn || (dropped && !(flags & (TcpHeader::kRst | TcpHeader::kFin)))) {
        m_sessions.Add(opened);
        marker = kNewSession;
      }
    } else {
      const auto gap = static_cast<std::int32_t>(seq - session->baseSeq);
      if (flags & TcpHeader::kSyn) {
        session->baseSeq = seq;
      } else if (flags & (TcpHeader::kRst | TcpHeader::kFin)) {
        m_sessions.Remove(*session);
      } else if (size != 0) {
        if (gap < 0)
          marker = kGapBelow;
        else if (gap > kGapLimit)
          marker = kGapAbove;
      }
    }
    LogTcpSegment(srcAddress, dstAddress, *tcp, size, marker);
    return true;
  } catch (...) {
    return false;
  }
}

void CTrafficMonitor::LogTcpSegment(std::uint32_t srcAddress, std::uint32_t dstAddress, const net::TcpHeader& tcp,
                                    std::int32_t size, std::string_view marker) {
  // A datagram is at most 65,535 bytes, so the size fits the record.
  const PacketRecord packet{.srcAddress = srcAddress,
                            .dstAddress = dstAddress,
                            .seq = tcp.sequence,
                            .ack = tcp.acknowledgement,
                            .srcPort = tcp.sourcePort,
                            .dstPort = tcp.destinationPort,
                            .size = static_cast<std::uint16_t>(size),
                            .flags = tcp.flags};

  LineBuilder line;
  line.address(packet.srcAddress) << " - ";
  line.address(packet.dstAddress) << " {";
  line.number(packet.srcPort) << "-";
  line.number(packet.dstPort) << "}, len: ";
  line.number(packet.size) << ", seq: ";
  line.number(packet.seq) << ",ack: ";
  line.number(packet.ack) << ", Flags: " << FormatTcpFlags(packet.flags) << " " << marker << "\r\n";
  // The tree shows only what the log holds: a line that cannot be written drops the segment.
  const auto text = line.text();
  if (!text || !m_logFile.Write(*text)) return;
  m_packets.AddPacketToTree(packet);
}

std::string_view CTrafficMonitor::FormatTcpFlags(unsigned flags) { return TcpFlagsText(flags); }

std::string CTrafficMonitor::PadLabel(std::string_view label) { return PaddedLabel(label); }
