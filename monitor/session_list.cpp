#include "monitor/session_list.h"

#include <sys/mman.h>

#include <new>

namespace {

constexpr std::size_t kInitialCapacity = 16;
constexpr std::size_t kHugePage = 2 << 20;

std::uint64_t word(const void* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

}  // namespace

bool AddressText::Assign(std::string_view text) {
  *this = AddressText();
  if (text.size() > kCapacity) return false;
  std::memcpy(m_text, text.data(), text.size());
  m_length = static_cast<std::uint8_t>(text.size());
  return true;
}

const Session& SessionList::const_iterator::operator*() const { return m_slots[m_at].session; }

SessionList::const_iterator& SessionList::const_iterator::operator++() {
  m_at = m_slots[m_at].next;
  return *this;
}

SessionList::SessionList() : m_slots(Allocate(kInitialCapacity)), m_capacity(kInitialCapacity) {}

SessionList::~SessionList() = default;

std::unique_ptr<SessionList::Slot[], SessionList::FreeSlots> SessionList::Allocate(std::size_t capacity) {
  const std::size_t bytes = capacity * sizeof(Slot);
  // A large table on huge pages keeps a lookup to one memory access, without a walk
  // of the page tables as well.
  const std::size_t alignment = bytes >= kHugePage ? kHugePage : alignof(Slot);
  void* memory = std::aligned_alloc(alignment, (bytes + alignment - 1) / alignment * alignment);
  if (memory == nullptr) throw std::bad_alloc();
  if (alignment == kHugePage) ::madvise(memory, bytes, MADV_HUGEPAGE);
  auto* table = static_cast<Slot*>(memory);
  for (std::size_t i = 0; i < capacity; ++i) table[i].used = false;
  return std::unique_ptr<Slot[], FreeSlots>(table);
}

std::uint32_t SessionList::Hash(const Session& key) {
  const auto* src = reinterpret_cast<const unsigned char*>(&key.srcAddress);
  const auto* dst = reinterpret_cast<const unsigned char*>(&key.dstAddress);
  std::uint64_t h =
      (std::uint64_t(std::uint32_t(key.srcPort)) << 32 | std::uint32_t(key.dstPort)) * 0x9E3779B97F4A7C15ull;
  for (const std::uint64_t w : {word(src), word(src + 8), word(dst), word(dst + 8)})
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
  return static_cast<std::uint32_t>(h >> 32 ^ h);
}

std::uint32_t SessionList::Locate(const Session& key, std::uint32_t hash) const {
  const std::size_t mask = m_capacity - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = m_slots[i];
    if (!slot.used) return kNone;
    const Session& s = slot.session;
    if (slot.hash == hash && s.srcPort == key.srcPort && s.dstPort == key.dstPort && s.srcAddress == key.srcAddress &&
        s.dstAddress == key.dstAddress)
      return static_cast<std::uint32_t>(i);
  }
}

Session* SessionList::Find(std::string_view srcAddress, std::int32_t srcPort, std::string_view dstAddress,
                           std::int32_t dstPort) {
  Session key{srcPort, dstPort, {}, {}, 0};
  if (!key.srcAddress.Assign(srcAddress) || !key.dstAddress.Assign(dstAddress)) return nullptr;
  const std::uint32_t at = Locate(key, Hash(key));
  return at == kNone ? nullptr : &m_slots[at].session;
}

void SessionList::Link(std::uint32_t at) {
  Slot& slot = m_slots[at];
  slot.prev = m_tail;
  slot.next = kNone;
  (m_tail == kNone ? m_head : m_slots[m_tail].next) = at;
  m_tail = at;
}

Session& SessionList::Add(const Session& session) {
  // Linear probing stays short while at most half the slots are used.
  if (2 * (m_count + 1) > m_capacity) Grow();
  const std::uint32_t hash = Hash(session);
  const std::size_t mask = m_capacity - 1;
  std::size_t i = hash & mask;
  while (m_slots[i].used) i = (i + 1) & mask;
  Slot& slot = m_slots[i];
  slot.session = session;
  slot.hash = hash;
  slot.used = true;
  Link(static_cast<std::uint32_t>(i));
  ++m_count;
  return slot.session;
}

void SessionList::Grow() {
  auto old = std::move(m_slots);
  const std::uint32_t oldHead = m_head;
  m_slots = Allocate(m_capacity * 2);
  m_capacity *= 2;
  m_count = 0;
  m_head = m_tail = kNone;
  for (std::uint32_t at = oldHead; at != kNone; at = old[at].next) Add(old[at].session);
}

void SessionList::Remove(const Session& session) {
  std::uint32_t hole = Locate(session, Hash(session));
  if (hole == kNone) return;
  const Slot& gone = m_slots[hole];
  (gone.prev == kNone ? m_head : m_slots[gone.prev].next) = gone.next;
  (gone.next == kNone ? m_tail : m_slots[gone.next].prev) = gone.prev;
  --m_count;
  // Close the gap: move back every later slot of the run that may not lie behind it.
  const std::size_t mask = m_capacity - 1;
  for (std::size_t j = (hole + 1) & mask; m_slots[j].used; j = (j + 1) & mask) {
    const std::size_t home = m_slots[j].hash & mask;
    const bool stays = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
    if (stays) continue;
    Slot& moved = m_slots[hole];
    moved = m_slots[j];
    const auto to = static_cast<std::uint32_t>(hole);
    (moved.prev == kNone ? m_head : m_slots[moved.prev].next) = to;
    (moved.next == kNone ? m_tail : m_slots[moved.next].prev) = to;
    hole = static_cast<std::uint32_t>(j);
  }
  m_slots[hole].used = false;
}
