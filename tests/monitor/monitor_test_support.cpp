#include "tests/monitor/monitor_test_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace monitor_test {

int ScriptedSource::Bind(std::uint32_t address) {
  std::lock_guard lock(m_script.mutex);
  m_script.boundAddress = address;
  return m_script.bindError;
}

bool ScriptedSource::TakeNext(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) {
  if (m_script.woken || m_script.datagrams.empty()) return false;
  const auto& d = m_script.datagrams.front();
  received = static_cast<std::uint32_t>(std::min<std::size_t>(d.size(), capacity));
  std::memcpy(buffer, d.data(), received);
  m_script.datagrams.pop_front();
  return true;
}

int ScriptedSource::ReceiveReady(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) {
  std::lock_guard lock(m_script.mutex);
  return TakeNext(buffer, capacity, received) ? 0 : ws::WSAEWOULDBLOCK;
}

int ScriptedSource::Receive(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t& received) {
  std::unique_lock lock(m_script.mutex);
  ++m_script.receives;
  m_script.changed.notify_all();
  if (TakeNext(buffer, capacity, received)) return 0;
  if (m_script.errorAfterDatagrams != 0) return m_script.errorAfterDatagrams;
  if (!m_script.endAfterDatagrams) m_script.changed.wait(lock, [&] { return m_script.woken; });
  return ws::WSAEDISCON;
}

void ScriptedSource::Wake() {
  std::lock_guard lock(m_script.mutex);
  m_script.woken = true;
  m_script.changed.notify_all();
}

ScriptedCapture::ScriptedCapture(Script& script) {
  ws::SetSourceFactory([&script] { return std::make_unique<ScriptedSource>(script); });
}

ScriptedCapture::~ScriptedCapture() { ws::SetSourceFactory(nullptr); }

void PacketRecorder::AddPacketToTree(const PacketRecord& packet) {
  std::lock_guard lock(m_mutex);
  m_packets.push_back(packet);
  m_added.notify_all();
}

std::vector<PacketRecord> PacketRecorder::Packets() {
  std::lock_guard lock(m_mutex);
  return m_packets;
}

bool PacketRecorder::WaitForPackets(std::size_t count, double seconds) {
  std::unique_lock lock(m_mutex);
  return m_added.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return m_packets.size() >= count; });
}

StreamCapture::StreamCapture() {
  std::fflush(stdout);
  std::fflush(stderr);
  m_savedOut = ::dup(1);
  m_savedErr = ::dup(2);
  const int out = ::open((m_dir.path() / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = ::open((m_dir.path() / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(out, 1);
  ::dup2(err, 2);
  ::close(out);
  ::close(err);
}

StreamCapture::~StreamCapture() {
  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(m_savedOut, 1);
  ::dup2(m_savedErr, 2);
  ::close(m_savedOut);
  ::close(m_savedErr);
}

std::string StreamCapture::Out() {
  std::fflush(stdout);
  return m_dir.Read("out");
}

std::string StreamCapture::Err() {
  std::fflush(stderr);
  return m_dir.Read("err");
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));  // an unterminated tail shows up as a line of its own
  return lines;
}

}  // namespace monitor_test
