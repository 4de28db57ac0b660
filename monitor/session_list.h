#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>

// One direction of one TCP connection, from its SYN to its first FIN or RST.
struct Session {
  std::int32_t srcPort;
  std::int32_t dstPort;
  std::uint32_t srcAddress;  // network order
  std::uint32_t dstAddress;
  std::uint32_t baseSeq;
};

// The open sessions, found by their ordered quadruple with one probe of a flat table
// however many stay open: each session lies in a 32-byte slot, two to a cache line, so a
// lookup touches one line where a node-based map would chase three.
//
// The list holds at most `limit` sessions, so that a SYN flood or weeks of sessions that
// never saw their FIN cannot exhaust memory. When it is full, adding drops the session seen
// longest ago, by second chance: the sessions queue in the order they were opened, a
// lookup marks its session as seen, and a seen session at the front of the queue goes to
// its back once more instead of leaving. Each step is O(1), amortised over the lookups
// that marked the sessions. When memory for a larger table runs out, the list keeps what it
// has and is full from then on.
class SessionList {
  struct Slot;

 public:
  static constexpr std::size_t kDefaultLimit = 1'000'000;
  // Slot indexes are 32 bits and the table stays at most half full.
  static constexpr std::size_t kMaxLimit = std::size_t{1} << 30;

  // A limit outside 1 to kMaxLimit is taken as the nearest of the two.
  explicit SessionList(std::size_t limit = kDefaultLimit);
  ~SessionList();
  SessionList(const SessionList&) = delete;
  SessionList& operator=(const SessionList&) = delete;

  // Finding a session counts as seeing it.
  Session* Find(std::uint32_t srcAddress, std::int32_t srcPort, std::uint32_t dstAddress, std::int32_t dstPort);
  // Appends a session whose key is not in the list yet, dropping the one seen longest ago
  // when the list is full. Adding cannot fail.
  Session& Add(const Session& session);
  void Remove(const Session& session);
  // Whether the session of `key` was dropped to make room and has not been added since.
  // The answer is given once; the list remembers about as many dropped sessions as it
  // holds, the older ones may be forgotten.
  bool TakeDropped(const Session& key);
  std::size_t GetSize() const { return m_count; }

  // The sessions from the front of the queue to its back.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Session;
    using difference_type = std::ptrdiff_t;
    using pointer = const Session*;
    using reference = const Session&;

    const_iterator(const Slot* table, std::uint32_t at) : m_slots(table), m_at(at) {}
    reference operator*() const;
    pointer operator->() const { return &**this; }
    const_iterator& operator++();
    bool operator==(const const_iterator& other) const { return m_at == other.m_at; }

   private:
    const Slot* m_slots;
    std::uint32_t m_at;
  };
  const_iterator begin() const { return {m_slots.get(), m_head}; }
  const_iterator end() const { return {m_slots.get(), kNone}; }

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;

  // The home slot is not kept: made again from the key, it costs less than the room it takes.
  struct alignas(32) Slot {
    Session session;
    std::uint32_t prev;  // the queue
    std::uint32_t next;
    bool used;
    bool seen;  // found since it was last queued
  };
  static_assert(sizeof(Slot) == 32);
  struct FreeSlots {
    void operator()(Slot* memory) const { std::free(memory); }
  };
  using Table = std::unique_ptr<Slot[], FreeSlots>;

  // Tells the two directions of a connection apart; remembers dropped sessions.
  static std::uint32_t Hash(const Session& key);
  std::size_t Home(const Session& key) const;  // where the key's probe starts
  // Null when there is no memory for it.
  static Table Allocate(std::size_t capacity);
  std::uint32_t Locate(const Session& key) const;  // slot index or kNone
  Slot& Insert(const Session& session);
  void Link(std::uint32_t at);
  void Unlink(std::uint32_t at);
  void Erase(std::uint32_t at);
  bool Grow();
  void DropOldest();
  bool ForgetDropped(std::uint32_t hash);

  Table m_slots;
  std::size_t m_capacity = 0;  // a power of two
  std::size_t m_count = 0;
  std::size_t m_limit;
  std::uint32_t m_head = kNone;
  std::uint32_t m_tail = kNone;
  // The hashes of dropped sessions, one per slot chosen by the hash; made at the first drop.
  std::unique_ptr<std::uint32_t[]> m_dropped;
  std::size_t m_droppedMask = 0;
};
