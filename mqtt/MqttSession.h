#pragma once

#include "mqtt/MqttAddress.h"
#include "mqtt/MqttSettings.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

struct mosquitto;
struct mosquitto_message;
class MqttLink;

// One broker's connection, kept up by a thread of its own with libmosquitto: name lookup, TCP
// connect, TLS handshake and the waits between attempts all happen there, never in the caller's
// thread. It reports through the link and ends when told to stop or to close; the thread holds
// the session until then, so its owner may let go of it at any time.
class MqttSession : public std::enable_shared_from_this<MqttSession> {
public:
    static constexpr int kMaxWaitS = 60;          // between attempts, doubling from 1 s
    static constexpr int kAnswerTimeoutS = 20;    // for the CONNACK after connecting
    static constexpr int kPayloadLimit = 4096;    // larger incoming payloads are ignored
    static constexpr int kOutstandingLimit = 100; // publishes not yet acknowledged
    static constexpr int kCloseTimeoutMs = 2500;  // for closing cleanly, all told

    MqttSession(std::uint64_t id, MqttSettings settings, MqttAddress address,
                std::shared_ptr<MqttLink> link);
    MqttSession(const MqttSession&) = delete;
    MqttSession& operator=(const MqttSession&) = delete;

    void start();
    std::uint64_t id() const { return m_id; }

    // Any thread. False when dropped: not connected, closing, or too many unacknowledged.
    bool publish(const QString& topic, const QByteArray& payload, bool retain);
    // Sent now when connected; every connection subscribes to the link's filters anyway.
    void subscribe(const QString& filter);
    // Publishes retained (QoS 1), waits for the broker's acknowledgement, sends DISCONNECT, ends.
    void close(const QString& topic, const QByteArray& payload);
    // Ends soon, with a DISCONNECT when connected.
    void stop();
    bool waitEnded(int timeoutMs);

private:
    void run();
    bool configure(QString* error);
    QString serve();
    void closeNow();
    void finishClose(int timeoutMs);
    bool pumpUntil(const std::function<bool()>& done, int timeoutMs);
    QString describe(int rc, int errnum) const;
    bool waitBeforeRetry(int seconds);
    bool told() const { return m_stopRequested || m_closeRequested; }

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    const std::uint64_t m_id;
    const MqttSettings m_settings;
    const MqttAddress m_address;
    const std::shared_ptr<MqttLink> m_link;

    std::mutex m_mosqMutex; // m_mosq's life, against publishes from other threads
    mosquitto* m_mosq = nullptr;
    std::atomic<bool> m_connected{false};
    std::atomic<int> m_outstanding{0};

    std::mutex m_mutex; // what other threads tell the session, and its end
    std::condition_variable m_told;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_closeRequested{false};
    QString m_closeTopic;
    QByteArray m_closePayload;
    bool m_ended = false;

    // The session's thread alone.
    bool m_wasUp = false;
    bool m_awaitingSubscriptions = false;
    std::set<int> m_pendingSubscriptions;
    int m_closeMid = -1;
    bool m_closeAcked = false;
    QString m_refusal;
    QString m_lastLogError;
};
