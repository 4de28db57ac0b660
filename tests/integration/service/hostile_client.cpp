// A local user's client that tries what the service must refuse; run as a test user on the
// world's bus (DBUS_SYSTEM_BUS_ADDRESS).
//
//   hostile_client reused-pid GO RESULT
//     Connects to the bus, forks a child that keeps the connection, prints its own pid and
//     exits. Once the file GO exists (by then the test has given the pid to a root process),
//     the child asks for SetFirewallEnabled(false) on that connection and writes the answer
//     to RESULT: "ok" or the error's name. The child speaks the bus protocol on the socket
//     itself, since bus libraries refuse a connection made in another process.
//
//   hostile_client captures ADDRESS
//     Opens 4 captures of ADDRESS on each of 5 connections, all open at once; prints
//     "opened N". Then closes the connections and keeps the sockets, and prints "ended N":
//     how many of those sockets the service closed within 20 s.
//
//   hostile_client watchers
//     Watches the blocked flows on 17 connections, the first asking twice; prints
//     "watching N" and the error of each refusal. Then leaves the bus on all of them and
//     prints "again ok" once a new connection may watch (or its last refusal after 10 s).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// A message in the bus's little-endian wire format.
class Writer {
 public:
  void Align(std::size_t to) { bytes.resize((bytes.size() + to - 1) / to * to, '\0'); }
  void Byte(std::uint8_t value) { bytes.push_back(static_cast<char>(value)); }
  void U32(std::uint32_t value) {
    Align(4);
    bytes.append(reinterpret_cast<const char*>(&value), 4);
  }
  void String(const std::string& text) {
    U32(static_cast<std::uint32_t>(text.size()));
    bytes.append(text).push_back('\0');
  }
  void Signature(const std::string& text) {
    Byte(static_cast<std::uint8_t>(text.size()));
    bytes.append(text).push_back('\0');
  }
  // One header field: its code, then a variant of type `type`.
  void Field(std::uint8_t code, char type, const std::string& value) {
    Align(8);
    Byte(code);
    Signature(std::string(1, type));
    if (type == 'g')
      Signature(value);
    else
      String(value);
  }
  std::string bytes;
};

std::string MethodCall(std::uint32_t serial, const std::string& destination, const std::string& path,
                       const std::string& interface, const std::string& member, const std::string& signature,
                       const std::string& body) {
  Writer fields;
  fields.Field(1, 'o', path);
  fields.Field(2, 's', interface);
  fields.Field(3, 's', member);
  fields.Field(6, 's', destination);
  if (!signature.empty()) fields.Field(8, 'g', signature);
  Writer message;
  message.bytes = "l";
  message.Byte(1);  // a method call
  message.Byte(0);
  message.Byte(1);  // the protocol's version
  message.U32(static_cast<std::uint32_t>(body.size()));
  message.U32(serial);
  message.U32(static_cast<std::uint32_t>(fields.bytes.size()));
  message.bytes += fields.bytes;
  message.Align(8);
  return message.bytes + body;
}

std::uint32_t U32At(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

// The answer to call `serial` among the messages on `fd`: "ok" or the error's name. `bytes`
// holds what was read past the answer, for the next call.
std::string AnswerTo(int fd, std::uint32_t serial, std::string& bytes) {
  for (;;) {
    char chunk[4096];
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) return "the bus closed the connection";
    bytes.append(chunk, static_cast<std::size_t>(got));
    while (bytes.size() >= 16) {
      const std::size_t headerEnd = (16 + U32At(bytes, 12) + 7) / 8 * 8;
      const std::size_t total = headerEnd + U32At(bytes, 4);
      if (bytes.size() < total) break;
      const auto type = static_cast<std::uint8_t>(bytes[1]);
      std::optional<std::uint32_t> replyTo;
      std::string error;
      for (std::size_t at = 16; at < headerEnd;) {
        at = (at + 7) / 8 * 8;
        if (at + 4 > headerEnd) break;
        const auto code = static_cast<std::uint8_t>(bytes[at]);
        const char kind = bytes[at + 2];
        at += 4;  // code, signature's length, its one character, its NUL
        if (kind == 'u') {
          at = (at + 3) / 4 * 4;
          if (code == 5) replyTo = U32At(bytes, at);
          at += 4;
        } else if (kind == 'g') {
          at += 2 + static_cast<std::uint8_t>(bytes[at]);
        } else {
          at = (at + 3) / 4 * 4;
          const std::uint32_t length = U32At(bytes, at);
          if (code == 4) error = bytes.substr(at + 4, length);
          at += 4 + length + 1;
        }
      }
      bytes.erase(0, total);
      if (replyTo == serial) return type == 2 ? "ok" : error;
    }
  }
}

int ReusedPid(const std::string& go, const std::string& result) {
  const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  const std::string prefix = "unix:path=";
  if (!address || std::strncmp(address, prefix.c_str(), prefix.size()) != 0) return 2;
  sockaddr_un where{};
  where.sun_family = AF_UNIX;
  std::strncpy(where.sun_path, address + prefix.size(), sizeof where.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) return 2;
  // The bus takes the connection's user (and pid) from the socket now.
  char hexUid[32] = "";
  for (const char digit : std::to_string(getuid())) std::snprintf(hexUid + std::strlen(hexUid), 3, "%02x", digit);
  const std::string auth = std::string(1, '\0') + "AUTH EXTERNAL " + hexUid + "\r\n";
  char reply[256];
  if (write(fd, auth.data(), auth.size()) != static_cast<ssize_t>(auth.size()) || read(fd, reply, sizeof reply) <= 0 ||
      std::strncmp(reply, "OK", 2) != 0)
    return 2;
  const std::string hello = "BEGIN\r\n" + MethodCall(1, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                     "org.freedesktop.DBus", "Hello", "", "");
  std::string pending;
  if (write(fd, hello.data(), hello.size()) != static_cast<ssize_t>(hello.size()) || AnswerTo(fd, 1, pending) != "ok")
    return 2;

  const pid_t child = fork();
  if (child < 0) return 2;
  if (child > 0) {
    std::printf("%d\n", static_cast<int>(getpid()));
    return 0;
  }
  // Whoever waits for the parent's output must not wait for the child's end too.
  const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
  for (const int stream : {0, 1, 2}) dup2(nothing, stream);
  for (int waited = 0; access(go.c_str(), F_OK) != 0; ++waited) {
    if (waited == 600) return 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const std::string off = MethodCall(2, "org.brenvo.Firewall1", "/org/brenvo/Firewall1", "org.brenvo.Firewall1",
                                     "SetFirewallEnabled", "b", std::string(4, '\0'));
  const std::string answer = write(fd, off.data(), off.size()) == static_cast<ssize_t>(off.size())
                                 ? AnswerTo(fd, 2, pending)
                                 : std::string("the call could not be sent");
  if (FILE* out = std::fopen(result.c_str(), "w")) {
    std::fputs(answer.c_str(), out);
    std::fclose(out);
  }
  return 0;
}

int Captures(const std::string& address) {
  std::vector<int> kept;
  std::vector<std::unique_ptr<sdbus::IConnection>> connections;
  for (int connection = 0; connection < 5; ++connection) {
    const auto& bus = connections.emplace_back(sdbus::createSystemBusConnection());
    const auto service = sdbus::createProxy(*bus, "org.brenvo.Firewall1", "/org/brenvo/Firewall1");
    for (int capture = 0; capture < 4; ++capture) {
      try {
        sdbus::UnixFd socket;
        std::uint32_t number = 0;
        service->callMethod("OpenCapture")
            .onInterface("org.brenvo.Traffic1")
            .withArguments(address)
            .storeResultsTo(socket, number);
        kept.push_back(socket.release());
      } catch (const sdbus::Error&) {
      }
    }
  }
  std::printf("opened %zu\n", kept.size());
  std::fflush(stdout);
  connections.clear();
  // A capture the service ended reads as a hang-up (its datagrams before that aside).
  std::size_t ended = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int& fd : kept) {
    while (fd >= 0 && std::chrono::steady_clock::now() < until) {
      pollfd waiting{fd, POLLIN, 0};
      if (poll(&waiting, 1, 100) <= 0) continue;
      char datagrams[65536];
      if (recv(fd, datagrams, sizeof datagrams, MSG_DONTWAIT) == 0 || (waiting.revents & POLLHUP)) {
        ++ended;
        close(fd);
        fd = -1;
      }
    }
  }
  std::printf("ended %zu\n", ended);
  return 0;
}

// The answer to WatchBlocked on `bus`: "ok" or the error's name.
std::string Watch(sdbus::IConnection& bus) {
  try {
    sdbus::createProxy(bus, "org.brenvo.Firewall1", "/org/brenvo/Firewall1")
        ->callMethod("WatchBlocked")
        .onInterface("org.brenvo.Blocked1");
    return "ok";
  } catch (const sdbus::Error& error) {
    return error.getName();
  }
}

int Watchers() {
  std::vector<std::unique_ptr<sdbus::IConnection>> connections;
  std::size_t watching = 0;
  for (int connection = 0; connection < 17; ++connection) {
    const auto& bus = connections.emplace_back(sdbus::createSystemBusConnection());
    for (int asked = 0; asked < (connection == 0 ? 2 : 1); ++asked) {
      const std::string answer = Watch(*bus);
      if (answer != "ok") std::printf("%s\n", answer.c_str());
      watching += answer == "ok" && asked == 0;
    }
  }
  std::printf("watching %zu\n", watching);
  connections.clear();
  std::string again;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((again = Watch(*sdbus::createSystemBusConnection())) != "ok" && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::printf("again %s\n", again.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "reused-pid" && argc == 4) return ReusedPid(argv[2], argv[3]);
  if (mode == "captures" && argc == 3) return Captures(argv[2]);
  if (mode == "watchers" && argc == 2) return Watchers();
  std::fprintf(stderr, "usage: hostile_client reused-pid GO RESULT | captures ADDRESS | watchers\n");
  return 2;
}
