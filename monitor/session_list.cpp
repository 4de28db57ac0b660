#include "monitor/session_list.h"

#include <functional>

std::size_t SessionList::KeyHash::operator()(const Key& key) const
{
    const std::hash<std::string_view> text;
    std::size_t h = text(key.srcAddress);
    h = h * 31 + text(key.dstAddress);
    return h * 0x9E3779B97F4A7C15ull + (std::size_t(std::uint32_t(key.srcPort)) << 16 ^ std::uint32_t(key.dstPort));
}

SessionList::Key SessionList::KeyOf(const Session& session)
{
    return {session.srcAddress, session.srcPort, session.dstAddress, session.dstPort};
}

Session* SessionList::Find(std::string_view srcAddress, std::int32_t srcPort,
                           std::string_view dstAddress, std::int32_t dstPort)
{
    const auto it = m_index.find(Key{srcAddress, srcPort, dstAddress, dstPort});
    return it == m_index.end() ? nullptr : &*it->second;
}

Session& SessionList::Add(Session session)
{
    m_order.push_back(std::move(session));
    const auto node = std::prev(m_order.end());
    m_index.emplace(KeyOf(*node), node);
    return *node;
}

void SessionList::Remove(const Session& session)
{
    const auto it = m_index.find(KeyOf(session));
    if (it == m_index.end())
        return;
    const auto node = it->second;
    m_index.erase(it);
    m_order.erase(node);
}
