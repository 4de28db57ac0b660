#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>

// Dotted IPv4 text held in place: at most 15 characters ("255.255.255.255").
class AddressText {
 public:
  static constexpr std::size_t kCapacity = 15;

  AddressText() = default;
  // False, and left empty, when the text is longer than an IPv4 address can be.
  bool Assign(std::string_view text);
  std::string_view view() const { return {m_text, m_length}; }
  bool operator==(const AddressText& other) const { return std::memcmp(this, &other, sizeof *this) == 0; }
  bool operator==(std::string_view text) const { return view() == text; }

 private:
  char m_text[kCapacity] = {};
  std::uint8_t m_length = 0;
};

// One direction of one TCP connection, from its SYN to its first FIN or RST.
struct Session {
  std::int32_t srcPort;
  std::int32_t dstPort;
  AddressText srcAddress;
  AddressText dstAddress;
  std::uint32_t baseSeq;
};

// The open sessions in the order they were opened, found by their ordered quadruple with
// one probe of a flat table however many stay open: each session lies in a slot of its
// own cache line, so a lookup touches one line where a node-based map would chase three.
// A session is freed when it leaves the list.
class SessionList {
  struct Slot;

 public:
  SessionList();
  ~SessionList();
  SessionList(const SessionList&) = delete;
  SessionList& operator=(const SessionList&) = delete;

  // Address texts longer than AddressText::kCapacity are never in the list.
  Session* Find(std::string_view srcAddress, std::int32_t srcPort, std::string_view dstAddress, std::int32_t dstPort);
  // Appends a session whose key is not in the list yet; its addresses are already held
  // in place, so adding cannot fail.
  Session& Add(const Session& session);
  void Remove(const Session& session);
  std::size_t GetSize() const { return m_count; }

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

  struct alignas(64) Slot {
    Session session;
    std::uint32_t hash;
    std::uint32_t prev;  // opening order
    std::uint32_t next;
    bool used;
  };
  struct FreeSlots {
    void operator()(Slot* memory) const { std::free(memory); }
  };

  static std::uint32_t Hash(const Session& key);
  std::uint32_t Locate(const Session& key, std::uint32_t hash) const;  // slot index or kNone
  void Link(std::uint32_t at);
  void Grow();
  static std::unique_ptr<Slot[], FreeSlots> Allocate(std::size_t capacity);

  std::unique_ptr<Slot[], FreeSlots> m_slots;
  std::size_t m_capacity = 0;  // a power of two
  std::size_t m_count = 0;
  std::uint32_t m_head = kNone;
  std::uint32_t m_tail = kNone;
};
