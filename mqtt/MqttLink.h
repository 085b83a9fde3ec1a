#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

// What a session's thread has to say to the Qt thread.
struct MqttEvent {
    enum class Kind { Up, Down, Message, Closed };
    Kind kind = Kind::Down;
    std::uint64_t session = 0; // events of a session since replaced are ignored
    QString text;              // Down: why; Message: the topic
    QByteArray payload;
    bool retained = false;
};

// Shared by a client and its sessions, used from any thread: the events bound for the Qt thread
// and the topic filters every connection subscribes to. Messages beyond the limit are dropped
// and counted, so a flood the Qt thread cannot keep up with costs no more memory.
class MqttLink {
public:
    static constexpr std::size_t kMessageLimit = 256;

    // `wake` is called (under the link's lock) when events wait and none did before.
    explicit MqttLink(std::function<void()> wake);

    void push(MqttEvent event);
    std::deque<MqttEvent> takeAll();
    // The owner is going: nothing is woken any more.
    void detach();

    void addFilter(const QString& filter);
    QStringList filters() const;

    void countDropped();
    std::uint64_t dropped() const;

private:
    mutable std::mutex m_mutex;
    std::function<void()> m_wake;
    std::deque<MqttEvent> m_events;
    std::size_t m_messages = 0;
    std::uint64_t m_dropped = 0;
    QStringList m_filters;
};
