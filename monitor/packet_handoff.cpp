#include "monitor/packet_handoff.h"

#include "monitor/packet_tree_model.h"

#include <QThread>

PacketHandoff::PacketHandoff(PacketTreeModel& model, QObject* parent)
    : QObject(parent), m_model(model)
{
}

bool PacketHandoff::Deliver(const PacketRecord& record)
{
    if (QThread::currentThread() == thread()) {
        if (m_cancelled)
            return false;
        m_model.Append(record);
        return true;
    }
    std::unique_lock lock(m_mutex);
    if (m_cancelled)
        return false;
    m_pending = &record;
    QMetaObject::invokeMethod(this, &PacketHandoff::Serve, Qt::QueuedConnection);
    m_served.wait(lock, [&] { return m_pending == nullptr || m_cancelled; });
    // Cancelled before it was served: the queued call must find nothing to add, as the
    // record is gone once we return.
    const bool added = m_pending == nullptr;
    m_pending = nullptr;
    return added;
}

void PacketHandoff::Serve()
{
    std::lock_guard lock(m_mutex);
    if (m_pending == nullptr)
        return;
    m_model.Append(*m_pending);
    m_pending = nullptr;
    m_served.notify_all();
}

void PacketHandoff::Cancel()
{
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    m_served.notify_all();
}
