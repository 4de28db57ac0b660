#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

// One direction of one TCP connection, from its SYN to its first FIN or RST.
struct Session {
    std::int32_t srcPort;
    std::int32_t dstPort;
    std::string srcAddress;
    std::string dstAddress;
    std::uint32_t baseSeq;
};

// The open sessions in the order they were opened, found by their ordered quadruple in
// constant time however many stay open. A record is freed when it leaves the list.
class SessionList {
public:
    Session* Find(std::string_view srcAddress, std::int32_t srcPort, std::string_view dstAddress,
                  std::int32_t dstPort);
    // Appends a session whose key is not in the list yet.
    Session& Add(Session session);
    void Remove(const Session& session);

    std::size_t GetSize() const { return m_order.size(); }
    auto begin() const { return m_order.begin(); }
    auto end() const { return m_order.end(); }

private:
    struct Key {
        std::string_view srcAddress;
        std::int32_t srcPort;
        std::string_view dstAddress;
        std::int32_t dstPort;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const;
    };
    static Key KeyOf(const Session& session);

    // The keys view the strings of their own record; list nodes never move.
    std::list<Session> m_order;
    std::unordered_map<Key, std::list<Session>::iterator, KeyHash> m_index;
};
