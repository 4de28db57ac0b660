#include "monitor/session_list.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <new>
#include <utility>

namespace {

constexpr std::size_t kInitialCapacity = 16;
constexpr std::size_t kCacheLine = 64;  // two slots
constexpr std::size_t kHugePage = 2 << 20;
// Enough that a handful of dropped sessions seldom share a place.
constexpr std::size_t kMinDroppedMemory = 4096;

std::uint32_t Mix(std::uint64_t x, std::uint64_t y) {
  std::uint64_t h = (x ^ 0x9E3779B97F4A7C15ull) * 0xFF51AFD7ED558CCDull;
  h = (h ^ y ^ h >> 29) * 0xC4CEB9FE1A85EC53ull;
  return static_cast<std::uint32_t>(h >> 32 ^ h);
}

bool SameKey(const Session& a, const Session& b) {
  return a.srcAddress == b.srcAddress && a.dstAddress == b.dstAddress && a.srcPort == b.srcPort &&
         a.dstPort == b.dstPort;
}

}  // namespace

const Session& SessionList::const_iterator::operator*() const { return m_slots[m_at].session; }

SessionList::const_iterator& SessionList::const_iterator::operator++() {
  m_at = m_slots[m_at].next;
  return *this;
}

SessionList::SessionList(std::size_t limit)
    : m_slots(Allocate(kInitialCapacity)),
      m_capacity(kInitialCapacity),
      m_limit(std::clamp<std::size_t>(limit, 1, kMaxLimit)) {
  if (!m_slots) throw std::bad_alloc();
}

SessionList::~SessionList() = default;

SessionList::Table SessionList::Allocate(std::size_t capacity) {
  const std::size_t bytes = capacity * sizeof(Slot);
  // A large table on huge pages keeps a lookup to one memory access, without a walk
  // of the page tables as well.
  const std::size_t alignment = bytes >= kHugePage ? kHugePage : kCacheLine;
  void* memory = std::aligned_alloc(alignment, (bytes + alignment - 1) / alignment * alignment);
  if (memory == nullptr) return nullptr;
  if (alignment == kHugePage) ::madvise(memory, bytes, MADV_HUGEPAGE);
  auto* table = static_cast<Slot*>(memory);
  for (std::size_t i = 0; i < capacity; ++i) table[i].used = false;
  return Table(table);
}

std::uint32_t SessionList::Hash(const Session& key) {
  return Mix(std::uint64_t(key.srcAddress) << 32 | key.dstAddress,
             std::uint64_t(std::uint32_t(key.srcPort)) << 32 | std::uint32_t(key.dstPort));
}

std::size_t SessionList::Home(const Session& key) const {
  // The two directions of a connection start their probe at the same two slots, which
  // share a cache line: a connection's segments, which go both ways in turn, then touch
  // one line where they would touch two.
  const std::uint64_t a = std::uint64_t(key.srcAddress) << 16 | std::uint16_t(key.srcPort);
  const std::uint64_t b = std::uint64_t(key.dstAddress) << 16 | std::uint16_t(key.dstPort);
  return Mix(std::min(a, b), std::max(a, b)) & (m_capacity - 1) & ~std::size_t{1};
}

std::uint32_t SessionList::Locate(const Session& key) const {
  const std::size_t mask = m_capacity - 1;
  for (std::size_t i = Home(key);; i = (i + 1) & mask) {
    const Slot& slot = m_slots[i];
    if (!slot.used) return kNone;
    if (SameKey(slot.session, key)) return static_cast<std::uint32_t>(i);
  }
}

Session* SessionList::Find(std::uint32_t srcAddress, std::int32_t srcPort, std::uint32_t dstAddress,
                           std::int32_t dstPort) {
  const std::uint32_t at = Locate({srcPort, dstPort, srcAddress, dstAddress, 0});
  if (at == kNone) return nullptr;
  Slot& slot = m_slots[at];
  // Only a change dirties the cache line: a busy session stays seen without a write back.
  if (!slot.seen) slot.seen = true;
  return &slot.session;
}

void SessionList::Link(std::uint32_t at) {
  Slot& slot = m_slots[at];
  slot.prev = m_tail;
  slot.next = kNone;
  (m_tail == kNone ? m_head : m_slots[m_tail].next) = at;
  m_tail = at;
}

void SessionList::Unlink(std::uint32_t at) {
  const Slot& slot = m_slots[at];
  (slot.prev == kNone ? m_head : m_slots[slot.prev].next) = slot.next;
  (slot.next == kNone ? m_tail : m_slots[slot.next].prev) = slot.prev;
}

SessionList::Slot& SessionList::Insert(const Session& session) {
  const std::size_t mask = m_capacity - 1;
  std::size_t i = Home(session);
  while (m_slots[i].used) i = (i + 1) & mask;
  Slot& slot = m_slots[i];
  slot.session = session;
  slot.used = true;
  slot.seen = false;
  Link(static_cast<std::uint32_t>(i));
  ++m_count;
  return slot;
}

Session& SessionList::Add(const Session& session) {
  if (m_count == m_limit) DropOldest();
  // Linear probing stays short while at most half the slots are used.
  if (2 * (m_count + 1) > m_capacity && !Grow()) {
    m_limit = m_count;
    DropOldest();
  }
  ForgetDropped(Hash(session));
  return Insert(session).session;
}

bool SessionList::Grow() {
  // The new table is made before the old one is touched: when there is no room for it,
  // the list goes on in the old one.
  Table grown = Allocate(m_capacity * 2);
  if (!grown) return false;
  const Table old = std::exchange(m_slots, std::move(grown));
  m_capacity *= 2;
  const std::uint32_t oldHead = m_head;
  m_count = 0;
  m_head = m_tail = kNone;
  for (std::uint32_t at = oldHead; at != kNone; at = old[at].next) Insert(old[at].session).seen = old[at].seen;
  return true;
}

void SessionList::DropOldest() {
  while (m_slots[m_head].seen) {
    const std::uint32_t at = m_head;
    m_slots[at].seen = false;
    Unlink(at);
    Link(at);
  }
  const std::uint32_t oldest = m_head;
  if (!m_dropped) {
    const std::size_t size = std::max<std::size_t>(std::bit_ceil(m_limit), kMinDroppedMemory);
    m_dropped.reset(new (std::nothrow) std::uint32_t[size]());
    m_droppedMask = size - 1;
  }
  // A hash with its low bit set is never 0, the mark of an empty place.
  if (m_dropped) {
    const std::uint32_t hash = Hash(m_slots[oldest].session);
    m_dropped[hash & m_droppedMask] = hash | 1;
  }
  Erase(oldest);
}

bool SessionList::ForgetDropped(std::uint32_t hash) {
  if (!m_dropped) return false;
  std::uint32_t& mark = m_dropped[hash & m_droppedMask];
  if (mark != (hash | 1)) return false;
  mark = 0;
  return true;
}

bool SessionList::TakeDropped(const Session& key) { return ForgetDropped(Hash(key)); }

void SessionList::Remove(const Session& session) {
  const std::uint32_t at = Locate(session);
  if (at != kNone) Erase(at);
}

void SessionList::Erase(std::uint32_t at) {
  Unlink(at);
  --m_count;
  // Close the gap: move back every later slot of the run that may not lie behind it.
  std::size_t hole = at;
  const std::size_t mask = m_capacity - 1;
  for (std::size_t j = (hole + 1) & mask; m_slots[j].used; j = (j + 1) & mask) {
    const std::size_t home = Home(m_slots[j].session);
    const bool stays = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
    if (stays) continue;
    Slot& moved = m_slots[hole];
    moved = m_slots[j];
    const auto to = static_cast<std::uint32_t>(hole);
    (moved.prev == kNone ? m_head : m_slots[moved.prev].next) = to;
    (moved.next == kNone ? m_tail : m_slots[moved.next].prev) = to;
    hole = j;
  }
  m_slots[hole].used = false;
}
