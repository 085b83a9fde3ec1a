#include "mqtt/MqttLink.h"

MqttLink::MqttLink(std::function<void()> wake)
    : m_wake(std::move(wake))
{
}

void MqttLink::push(MqttEvent event)
{
    const std::lock_guard lock(m_mutex);
    if (event.kind == MqttEvent::Kind::Message) {
        if (m_messages >= kMessageLimit) {
            ++m_dropped;
            return;
        }
        ++m_messages;
    }
    const bool wasEmpty = m_events.empty();
    m_events.push_back(std::move(event));
    if (wasEmpty && m_wake)
        m_wake();
}

std::deque<MqttEvent> MqttLink::takeAll()
{
    const std::lock_guard lock(m_mutex);
    m_messages = 0;
    return std::exchange(m_events, {});
}

void MqttLink::detach()
{
    const std::lock_guard lock(m_mutex);
    m_wake = nullptr;
    m_events.clear();
    m_messages = 0;
}

void MqttLink::addFilter(const QString& filter)
{
    const std::lock_guard lock(m_mutex);
    if (!m_filters.contains(filter))
        m_filters.append(filter);
}

QStringList MqttLink::filters() const
{
    const std::lock_guard lock(m_mutex);
    return m_filters;
}

void MqttLink::countDropped()
{
    const std::lock_guard lock(m_mutex);
    ++m_dropped;
}

std::uint64_t MqttLink::dropped() const
{
    const std::lock_guard lock(m_mutex);
    return m_dropped;
}
