// The capture loop over the socket facade: its diagnostics, its stop, and its sources.
#include "monitor/datagram_batch.h"
#include "monitor/descriptor_source.h"
#include "monitor/local_addresses.h"
#include "tests/monitor/monitor_test_support.h"
#include "tools/capture_writer.h"
#include "tools/packet_builder.h"
#include "tools/synthetic_traffic.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <pcap/dlt.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

using monitor_test::Script;

std::vector<std::uint8_t> Syn(std::uint16_t srcPort = 1025) {
  return tools::TcpDatagram({.srcPort = srcPort, .flags = tools::kSyn});
}

class CaptureTest : public ::testing::Test {
 protected:
  // Runs a capture over `script` until it ends by itself; returns what it printed on
  // standard output.
  std::string Run() {
    monitor_test::StreamCapture streams;
    monitor.m_addresses = {"10.0.0.1"};
    monitor.StartCapture();
    monitor.m_hThread.join();
    err = streams.Err();
    return streams.Out();
  }

  Script script;
  monitor_test::ScriptedCapture scripted{script};
  TempDir dir;
  monitor_test::RecordingMonitor monitor{dir.path()};
  std::string err;
};

TEST_F(CaptureTest, SocketCreationFailureIsReported) {
  script.openError = ws::WSAEACCES;
  EXPECT_EQ(Run(), "WSASocket() failed: 10013\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(script.receives, 0);
}

TEST_F(CaptureTest, BindFailureIsReported) {
  script.bindError = ws::WSAEADDRNOTAVAIL;
  EXPECT_EQ(Run(), "bind() failed: 10049\n");
  EXPECT_EQ(script.receives, 0);
}

TEST_F(CaptureTest, ReceiveAllFailureOnNonIpv4AddsTheNote) {
  script.startError = ws::WSAEINVAL;
  EXPECT_EQ(Run(),
            "Binding to: \n"
            "WSAIotcl(0x98000001) failed: 10022\n"
            "NOTE: IPv6 does not currently support the SIO_RCVALL* ioctls\n");
}

TEST_F(CaptureTest, OtherReceiveAllFailuresHaveNoNote) {
  script.startError = ws::WSAENETDOWN;
  EXPECT_EQ(Run(), "Binding to: \nWSAIotcl(0x98000001) failed: 10050\n");
  EXPECT_EQ(script.receives, 0);
}

TEST_F(CaptureTest, EveryReceivedDatagramIsDecodedUntilAReceiveFails) {
  script.datagrams = {Syn(1), tools::Ipv4Datagram(17, "10.0.0.2", "10.0.0.1", 8), Syn(2)};
  script.errorAfterDatagrams = ws::WSAENETDOWN;
  EXPECT_EQ(Run(), "Binding to: \nWSARecv() failed: 10050\n");
  ASSERT_EQ(monitor.Packets().size(), 2u);
  EXPECT_EQ(monitor.Packets()[1].srcPort, 2);
  // The three datagrams were there together: one receive that waits took them all.
  EXPECT_EQ(script.receives, 2);

  // A capture that has ended is never started again.
  monitor.StartCapture();
  monitor.StopCapture();
  EXPECT_EQ(script.receives, 2);
}

TEST_F(CaptureTest, StopWakesAReceiveThatWaitsForTraffic) {
  script.datagrams = {Syn()};
  monitor_test::StreamCapture streams;
  monitor.m_addresses = {"10.0.0.1"};
  monitor.StartCapture();
  ASSERT_TRUE(monitor.WaitForPackets(1));
  {
    std::unique_lock lock(script.mutex);
    script.changed.wait(lock, [&] { return script.receives == 2; });  // blocked again
  }
  const auto start = std::chrono::steady_clock::now();
  monitor.StopCapture();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_FALSE(monitor.m_hThread.joinable());
  EXPECT_EQ(streams.Out(), "Binding to: \n");  // a stop is not a failure
}

TEST_F(CaptureTest, BindsTheFirstAddressInTextOrder) {
  monitor.m_addresses = {"192.168.0.10", "10.1.2.3"};
  monitor.StartCapture();
  monitor.StopCapture();
  EXPECT_EQ(monitor.m_bindAddress, "10.1.2.3");
  EXPECT_EQ(script.boundAddress, ws::inet_addr("10.1.2.3"));
}

TEST_F(CaptureTest, WithoutAnAddressNothingStarts) {
  monitor.m_addresses.clear();
  monitor.StartCapture();
  EXPECT_FALSE(monitor.m_hThread.joinable());
}

class CaptureFileTest : public ::testing::TestWithParam<tools::CaptureWriter::Format> {};

TEST_P(CaptureFileTest, FileIsReadWholeAndItsEndIsQuiet) {
  TempDir dir;
  const std::string path = (dir.path() / "traffic.cap").string();
  {
    tools::CaptureWriter writer(path, GetParam(), DLT_EN10MB);
    writer.Write(tools::EthernetFrame(Syn(1)), 1);          // padded to 60
    writer.Write(tools::EthernetFrame(Syn(2), 0x0806), 2);  // not IPv4
    writer.Write(tools::EthernetFrame(tools::Ipv4Datagram(17, "1.2.3.4", "5.6.7.8", 4)), 3);
    writer.Write(tools::EthernetFrame(tools::TcpDatagram({.srcPort = 3, .payloadBytes = 300})), 4);
    ASSERT_TRUE(writer.Close());
  }
  CTrafficMonitor::SetCaptureFile(path);
  monitor_test::RecordingMonitor monitor(dir.path());
  monitor_test::StreamCapture streams;
  monitor.m_addresses = {"192.0.2.1"};  // the file's addresses need not be the host's
  monitor.StartCapture();
  ASSERT_TRUE(monitor.WaitForPackets(2));
  // The end of the file ends the thread by itself.
  monitor.m_hThread.join();
  CTrafficMonitor::SetCaptureFile("");

  const auto packets = monitor.Packets();
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].size, 0);  // Ethernet padding is not TCP data
  EXPECT_EQ(packets[1].srcPort, 3);
  EXPECT_EQ(packets[1].size, 300);
  EXPECT_EQ(streams.Out(), "Binding to: \n");
  EXPECT_EQ(streams.Err(), "");
}

INSTANTIATE_TEST_SUITE_P(Formats, CaptureFileTest,
                         ::testing::Values(tools::CaptureWriter::Format::Pcap, tools::CaptureWriter::Format::Pcapng));

TEST(CaptureFileWithoutAddressTest, IsReadOnAHostWhoseInterfacesAreAllDown) {
  TempDir dir;
  const std::string path = (dir.path() / "traffic.pcap").string();
  ASSERT_TRUE(tools::WriteTrafficCapture(path, 12, 2, tools::CaptureWriter::Format::Pcap));
  CTrafficMonitor::SetCaptureFile(path);
  monitor_test::RecordingMonitor monitor(dir.path());
  monitor_test::StreamCapture streams;
  monitor.m_addresses.clear();
  monitor.StartCapture();
  ASSERT_TRUE(monitor.m_hThread.joinable());
  monitor.m_hThread.join();
  CTrafficMonitor::SetCaptureFile("");
  EXPECT_EQ(monitor.Packets().size(), 12u);
  EXPECT_EQ(streams.Out(), "Binding to: \n");
}

TEST(CaptureFileMissingTest, IsReportedAsASocketFailure) {
  CTrafficMonitor::SetCaptureFile("/nonexistent/brenvo.pcap");
  TempDir dir;
  monitor_test::RecordingMonitor monitor(dir.path());
  monitor_test::StreamCapture streams;
  monitor.m_addresses = {"192.0.2.1"};
  monitor.StartCapture();
  monitor.m_hThread.join();
  CTrafficMonitor::SetCaptureFile("");
  EXPECT_EQ(streams.Out(), "WSASocket() failed: 10050\n");
}

TEST(SocketFacadeTest, CallsOutOfOrderFailWithWinsockNumbers) {
  Script script;
  monitor_test::ScriptedCapture scripted(script);
  ws::WSADATA data;
  ASSERT_EQ(ws::WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0202);
  EXPECT_EQ(ws::WSAStartup(0x0101, &data), ws::WSAVERNOTSUPPORTED);

  EXPECT_EQ(ws::WSASocketA(AF_INET6, SOCK_RAW, 0, nullptr, 0, 0), ws::INVALID_SOCKET);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEAFNOSUPPORT);

  const ws::SOCKET s = ws::WSASocketA(AF_INET, SOCK_RAW, 0, nullptr, 0, ws::WSA_FLAG_OVERLAPPED);
  ASSERT_NE(s, ws::INVALID_SOCKET);
  std::uint32_t on = ws::RCVALL_ON, returned = 0;
  // Receive-all and receiving need a bound socket.
  EXPECT_EQ(ws::WSAIoctl(s, ws::SIO_RCVALL, &on, 4, nullptr, 0, &returned, nullptr, nullptr), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEINVAL);
  char buffer[64];
  ws::WSABUF descriptor{sizeof buffer, buffer};
  std::uint32_t received = 0, flags = 0;
  EXPECT_EQ(ws::WSARecv(s, &descriptor, 1, &received, &flags, nullptr, nullptr), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEINVAL);

  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  EXPECT_EQ(ws::bind(s, reinterpret_cast<sockaddr*>(&v6), sizeof v6), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEAFNOSUPPORT);
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_addr.s_addr = ws::inet_addr("10.0.0.1");
  EXPECT_EQ(ws::bind(s, reinterpret_cast<sockaddr*>(&v4), 8), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEFAULT);
  EXPECT_EQ(ws::bind(s, reinterpret_cast<sockaddr*>(&v4), sizeof v4), 0);
  EXPECT_EQ(ws::bind(s, reinterpret_cast<sockaddr*>(&v4), sizeof v4), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEINVAL);
  EXPECT_EQ(ws::WSAIoctl(s, 0x12345678, &on, 4, nullptr, 0, &returned, nullptr, nullptr), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEOPNOTSUPP);
  EXPECT_EQ(ws::WSAIoctl(s, ws::SIO_RCVALL, &on, 4, nullptr, 0, &returned, nullptr, nullptr), 0);

  EXPECT_EQ(ws::closesocket(s), 0);
  EXPECT_EQ(ws::closesocket(s), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
  EXPECT_EQ(ws::shutdown(s, ws::SD_RECEIVE), ws::SOCKET_ERROR);
  EXPECT_EQ(ws::WSACleanup(), 0);
}

TEST(DescriptorSourceBatchTest, HandsOutWhatOneCallReceivedInOrderAndTheEndAfterIt) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
  // Two messages of 3 and 2 datagrams, then the service's end closes.
  for (const std::vector<std::uint16_t>& ports : {std::vector<std::uint16_t>{1, 2, 3}, {4, 5}}) {
    ws::DatagramBatch batch;
    for (const std::uint16_t port : ports) {
      const auto datagram = Syn(port);
      batch.Add(datagram.data(), static_cast<std::uint32_t>(datagram.size()));
    }
    ASSERT_EQ(::send(pair[0], batch.Message().data(), batch.Message().size(), 0),
              static_cast<ssize_t>(batch.Message().size()));
  }
  ::close(pair[0]);
  ws::DescriptorSource source(pair[1]);
  std::vector<std::uint8_t> scratch(16);  // too small for a datagram: nothing is copied
  std::vector<std::uint16_t> ports;
  const auto takeUpTo = [&](std::size_t count) {
    return [&ports, count](std::span<const std::uint8_t> datagram) {
      const bool whole = datagram.size() == 40;  // a SYN without options
      ports.push_back(whole ? static_cast<std::uint16_t>(datagram[20] << 8 | datagram[21]) : 0);
      return ports.size() < count;
    };
  };
  // A batch that its taker ends early leaves the rest of the message for the next one.
  ASSERT_EQ(source.ReceiveBatch(scratch, takeUpTo(2)), 0);
  EXPECT_EQ(ports, (std::vector<std::uint16_t>{1, 2}));
  ASSERT_EQ(source.ReceiveBatch(scratch, takeUpTo(100)), 0);
  EXPECT_EQ(ports, (std::vector<std::uint16_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(source.ReceiveBatch(scratch, takeUpTo(100)), ws::WSAENETDOWN);
  EXPECT_EQ(ports.size(), 5u);
}

TEST(SocketFacadeTest, AddressTextConversions) {
  EXPECT_EQ(ws::inet_addr("10.1.2.3"), htonl(0x0A010203));
  EXPECT_EQ(ws::inet_addr("fe80::1"), INADDR_NONE);
  EXPECT_EQ(ws::inet_addr("10.1.2"), INADDR_NONE);
  // Every byte value in every place, against the C library's text.
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    const std::uint32_t address = htonl(byte << 24 | (255 - byte) << 16 | (byte * 7 % 256) << 8 | byte / 3);
    char expected[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &address, expected, sizeof expected);
    ASSERT_STREQ(ws::inet_ntoa(in_addr{address}), expected) << byte;
  }
}

TEST(LocalAddressesTest, LoopbackOnlyWhenThereIsNoOther) {
  const ws::InterfaceAddress lo{"lo", htonl(0x7F000001), true, true};
  const ws::InterfaceAddress eth{"eth0", htonl(0xC0A8000A), true, false};
  const ws::InterfaceAddress down{"eth1", htonl(0x0A010203), false, false};
  const ws::InterfaceAddress dummy127{"dummy0", htonl(0x7F000101), true, false};  // 127.0.1.1 on a non-loopback link
  const ws::InterfaceAddress wifi{"wlan0", htonl(0x0A010204), true, false};

  EXPECT_EQ(ws::CaptureAddresses({lo, eth, down, dummy127, wifi}),
            (std::vector<std::string>{"192.168.0.10", "10.1.2.4"}));
  EXPECT_EQ(ws::CaptureAddresses({lo, down, dummy127}), (std::vector<std::string>{"127.0.0.1", "127.0.1.1"}));
  EXPECT_TRUE(ws::CaptureAddresses({down}).empty());
}

}  // namespace
