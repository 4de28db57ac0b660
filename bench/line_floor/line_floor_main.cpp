// The least work that turns a capture file into the traffic monitor's log: the file mapped
// whole, each Ethernet/IPv4/TCP header read where it lies without validation, one probe
// of a flat table of per-direction sessions for the marker, the line formatted by hand
// and written with one write(). No capture library, no thread, no tree. The traffic
// monitor's pipeline is measured against it on the same file.
//
// usage: monitor_line_floor PCAP LOG   (a classic pcap of Ethernet frames in this
// host's byte order, as tools/capture_writer.h writes it)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

std::uint32_t rd32(const std::uint8_t* p) { return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
std::uint16_t rd16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

char* decimal(char* out, std::uint32_t value) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n != 0) *out++ = digits[--n];
  return out;
}

char* dotted(char* out, std::uint32_t address) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out = decimal(out, address >> shift & 0xFF);
    if (shift != 0) *out++ = '.';
  }
  return out;
}

char* text(char* out, const char* s) {
  const std::size_t n = std::strlen(s);
  std::memcpy(out, s, n);
  return out + n;
}

// One direction of a connection; a closed one keeps its slot until its next SYN.
struct Direction {
  std::uint32_t src, dst, ports, base;
  bool used, open;
};
constexpr std::uint32_t kSlots = 1u << 18;
Direction table[kSlots];

Direction& lookup(std::uint32_t src, std::uint32_t dst, std::uint32_t ports) {
  std::uint32_t h = (src * 2654435761u ^ dst * 2246822519u ^ ports * 3266489917u) & (kSlots - 1);
  while (table[h].used && !(table[h].src == src && table[h].dst == dst && table[h].ports == ports))
    h = (h + 1) & (kSlots - 1);
  return table[h];
}

// The session marker of a segment, its direction's entry updated.
const char* Marker(std::uint32_t src, std::uint32_t dst, std::uint32_t ports, std::uint32_t seq, unsigned flags,
                   unsigned length) {
  Direction& d = lookup(src, dst, ports);
  const auto gap = static_cast<std::int32_t>(seq - d.base);
  if (!(d.used && d.open)) {
    if (!(flags & 0x02)) return "";
    d = {src, dst, ports, seq, true, true};
    return " /*New session*/ ";
  }
  if (flags & 0x02) {
    d.base = seq;
  } else if (flags & 0x05) {
    d.open = false;
  } else if (length != 0) {
    return gap < 0 ? " { Gap < 0 }" : gap > 10240000 ? " { Gap > 10 MB }" : "";
  }
  return "";
}

// Formats the log line of the TCP segment at `tcp` into `line`; returns its end.
char* FormatLine(char* line, const std::uint8_t* ip, const std::uint8_t* tcp, unsigned length) {
  // Names in the order they are tested; SYN and FIN are named twice.
  static const struct {
    unsigned bit;
    const char* name;
  } kFlagNames[] = {{0x02, "SYN"}, {0x04, "RST"},  {0x01, "FIN"},  {0x10, "ACK"},
                    {0x20, "URG"}, {0x08, "PUSH"}, {0x02, "TAPI"}, {0x01, "NETDEV"}};
  const std::uint32_t src = rd32(ip + 12), dst = rd32(ip + 16), seq = rd32(tcp + 4);
  const std::uint16_t srcPort = rd16(tcp), dstPort = rd16(tcp + 2);
  const unsigned flags = tcp[13] & 0x3F;
  const char* marker = Marker(src, dst, std::uint32_t(srcPort) << 16 | dstPort, seq, flags, length);

  char* o = dotted(line, src);
  o = text(o, " - ");
  o = dotted(o, dst);
  o = text(o, " {");
  o = decimal(o, srcPort);
  *o++ = '-';
  o = decimal(o, dstPort);
  o = text(o, "}, len: ");
  o = decimal(o, length);
  o = text(o, ", seq: ");
  o = decimal(o, seq);
  o = text(o, ",ack: ");
  o = decimal(o, rd32(tcp + 8));
  o = text(o, ", Flags: ");
  bool first = true;
  for (const auto& name : kFlagNames) {
    if (!(flags & name.bit)) continue;
    if (!first) *o++ = ',';
    o = text(o, name.name);
    first = false;
  }
  *o++ = ' ';
  o = text(o, marker);
  return text(o, "\r\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PCAP LOG\n", argv[0]);
    return 2;
  }
  const int in = ::open(argv[1], O_RDONLY);
  struct stat info;
  if (in < 0 || ::fstat(in, &info) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  const auto* file =
      static_cast<const std::uint8_t*>(::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, in, 0));
  const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (file == MAP_FAILED || out < 0) {
    std::perror("open");
    return 1;
  }
  unsigned long segments = 0;
  char line[256];
  for (std::size_t at = 24; at + 16 <= size;) {
    std::uint32_t captured;
    std::memcpy(&captured, file + at + 8, 4);
    const std::uint8_t* frame = file + at + 16;
    at += 16 + captured;
    if (at > size || captured < 54 || rd16(frame + 12) != 0x0800) continue;
    const std::uint8_t* ip = frame + 14;
    const unsigned ipLength = (ip[0] & 15) * 4u;
    if (ip[9] != 6 || captured < 14 + ipLength + 20) continue;
    const char* end = FormatLine(line, ip, ip + ipLength, rd16(ip + 2) - ipLength - 20);
    if (::write(out, line, static_cast<std::size_t>(end - line)) < 0) {
      std::perror("write");
      return 1;
    }
    ++segments;
  }
  std::fprintf(stderr, "%lu segments\n", segments);
  return 0;
}
