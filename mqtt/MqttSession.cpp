#include "mqtt/MqttSession.h"

#include "mqtt/MqttLink.h"

#include <chrono>
#include <cstring>
#include <mosquitto.h>
#include <netdb.h>
#include <thread>

namespace {
constexpr int kKeepAliveS = 30;
constexpr int kLoopMs = 100; // how soon the thread hears that it is to stop
constexpr const char* kSystemCaPath = "/etc/ssl/certs";

using Clock = std::chrono::steady_clock;
} // namespace

MqttSession::MqttSession(std::uint64_t id, MqttSettings settings, MqttAddress address,
                         std::shared_ptr<MqttLink> link)
    : m_id(id)
    , m_settings(std::move(settings))
    , m_address(std::move(address))
    , m_link(std::move(link))
{
}

void MqttSession::start()
{
    std::thread([self = shared_from_this()] { self->run(); }).detach();
}

bool MqttSession::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    const std::lock_guard lock(m_mosqMutex);
    if (!m_mosq || !m_connected || told() || m_outstanding >= kOutstandingLimit)
        return false;
    const QByteArray name = topic.toUtf8();
    const int rc = mosquitto_publish(m_mosq, nullptr, name.constData(), int(payload.size()),
                                     payload.constData(), 1, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        return false;
    ++m_outstanding;
    return true;
}

void MqttSession::subscribe(const QString& filter)
{
    const std::lock_guard lock(m_mosqMutex);
    if (m_mosq && m_connected && !told())
        mosquitto_subscribe(m_mosq, nullptr, filter.toUtf8().constData(), 1);
}

void MqttSession::close(const QString& topic, const QByteArray& payload)
{
    const std::lock_guard lock(m_mutex);
    m_closeTopic = topic;
    m_closePayload = payload;
    m_closeRequested = true;
    m_told.notify_all();
}

void MqttSession::stop()
{
    const std::lock_guard lock(m_mutex);
    m_stopRequested = true;
    m_told.notify_all();
}

bool MqttSession::waitEnded(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_told.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_ended; });
}

void MqttSession::run()
{
    QString error;
    if (configure(&error)) {
        bool first = true;
        int waitS = 1;
        while (!told()) {
            m_wasUp = false;
            m_refusal.clear();
            m_lastLogError.clear();
            const int rc =
                first ? mosquitto_connect_async(m_mosq, m_address.host.toUtf8().constData(),
                                                m_address.port, kKeepAliveS)
                      : mosquitto_reconnect_async(m_mosq);
            const int errnum = errno;
            first = false;
            const QString why = rc == MOSQ_ERR_SUCCESS ? serve() : describe(rc, errnum);
            if (told())
                break;
            m_connected = false;
            m_link->push({MqttEvent::Kind::Down, m_id, why, {}, false});
            if (m_wasUp)
                waitS = 1;
            if (!waitBeforeRetry(waitS))
                break;
            waitS = std::min(waitS * 2, kMaxWaitS);
        }
        if (m_closeRequested)
            closeNow();
        else if (m_connected)
            finishClose(kLoopMs * 5);
    } else {
        m_link->push({MqttEvent::Kind::Down, m_id, error, {}, false});
    }
    {
        const std::lock_guard lock(m_mosqMutex);
        m_connected = false;
        if (m_mosq)
            mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
    if (m_closeRequested)
        m_link->push({MqttEvent::Kind::Closed, m_id, {}, {}, false});
    const std::lock_guard lock(m_mutex);
    m_ended = true;
    m_told.notify_all();
}

bool MqttSession::configure(QString* error)
{
    const QByteArray clientId = m_settings.clientId.toUtf8();
    mosquitto* mosq =
        mosquitto_new(clientId.isEmpty() ? nullptr : clientId.constData(), true, this);
    if (!mosq) {
        *error = QStringLiteral("cannot make an MQTT client: ") +
                 QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    {
        const std::lock_guard lock(m_mosqMutex);
        m_mosq = mosq;
    }
    // Publishes come from the Qt thread: the library hands them to this thread's loop.
    mosquitto_threaded_set(mosq, true);
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq, &MqttSession::onConnect);
    mosquitto_disconnect_callback_set(mosq, &MqttSession::onDisconnect);
    mosquitto_publish_callback_set(mosq, &MqttSession::onPublish);
    mosquitto_subscribe_callback_set(mosq, &MqttSession::onSubscribe);
    mosquitto_message_callback_set(mosq, &MqttSession::onMessage);
    mosquitto_log_callback_set(mosq, &MqttSession::onLog);

    int rc = MOSQ_ERR_SUCCESS;
    if (!m_settings.user.isEmpty())
        rc = mosquitto_username_pw_set(mosq, m_settings.user.toUtf8().constData(),
                                       m_settings.password.toUtf8().constData());
    if (rc == MOSQ_ERR_SUCCESS && !m_settings.willTopic.isEmpty())
        rc = mosquitto_will_set(mosq, m_settings.willTopic.toUtf8().constData(),
                                int(m_settings.willPayload.size()),
                                m_settings.willPayload.constData(), 1, true);
    if (rc != MOSQ_ERR_SUCCESS) {
        *error =
            QStringLiteral("unusable MQTT settings: ") + QString::fromUtf8(mosquitto_strerror(rc));
        return false;
    }
    if (m_address.tls) {
        const QByteArray caFile = m_settings.caFile.toLocal8Bit();
        rc = mosquitto_tls_set(mosq, caFile.isEmpty() ? nullptr : caFile.constData(),
                               caFile.isEmpty() ? kSystemCaPath : nullptr, nullptr, nullptr,
                               nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_opts_set(mosq, 1 /* verify the broker */, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = caFile.isEmpty()
                         ? QStringLiteral("cannot use the system's CAs for TLS: ") +
                               QString::fromUtf8(mosquitto_strerror(rc))
                         : QStringLiteral("cannot read the CA file %1").arg(m_settings.caFile);
            return false;
        }
    }
    return true;
}

QString MqttSession::serve()
{
    const auto deadline = Clock::now() + std::chrono::seconds(kAnswerTimeoutS);
    for (;;) {
        if (told())
            return {};
        // A broker that takes the connection and never answers would otherwise hold this
        // attempt for good.
        if (!m_wasUp && Clock::now() > deadline)
            return QStringLiteral("%1:%2: no answer from the broker within %3 s")
                .arg(m_address.host)
                .arg(m_address.port)
                .arg(kAnswerTimeoutS);
        const int rc = mosquitto_loop(m_mosq, kLoopMs, 1);
        if (rc != MOSQ_ERR_SUCCESS)
            return describe(rc, errno);
    }
}

void MqttSession::closeNow()
{
    if (!m_connected)
        return;
    const QByteArray topic = m_closeTopic.toUtf8();
    m_closeAcked = false;
    const int rc =
        mosquitto_publish(m_mosq, &m_closeMid, topic.constData(), int(m_closePayload.size()),
                          m_closePayload.constData(), 1, true);
    const auto started = Clock::now();
    if (rc == MOSQ_ERR_SUCCESS)
        pumpUntil([this] { return m_closeAcked; }, kCloseTimeoutMs * 4 / 5);
    const int spent =
        int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
    finishClose(std::max(kCloseTimeoutMs - spent, 100));
}

void MqttSession::finishClose(int timeoutMs)
{
    if (mosquitto_disconnect(m_mosq) == MOSQ_ERR_SUCCESS)
        pumpUntil([] { return false; }, timeoutMs); // ends when the socket is closed
}

bool MqttSession::pumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline || mosquitto_loop(m_mosq, kLoopMs, 1) != MOSQ_ERR_SUCCESS)
            return done();
    }
    return true;
}

QString MqttSession::describe(int rc, int errnum) const
{
    const QString where = QStringLiteral("%1:%2: ").arg(m_address.host).arg(m_address.port);
    if (!m_refusal.isEmpty())
        return where + QStringLiteral("the broker refused: ") + m_refusal;
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return where + QString::fromLocal8Bit(std::strerror(errnum));
    case MOSQ_ERR_EAI:
        return where + QStringLiteral("cannot resolve the host: ") +
               QString::fromLocal8Bit(gai_strerror(errnum));
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return where + QStringLiteral("TLS failed") +
               (m_lastLogError.isEmpty() ? QString() : QStringLiteral(": ") + m_lastLogError);
    case MOSQ_ERR_KEEPALIVE:
        return where + QStringLiteral("the broker stopped answering");
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return where + QStringLiteral("the connection was lost");
    default:
        return where + QString::fromUtf8(mosquitto_strerror(rc)) +
               (m_lastLogError.isEmpty() ? QString() : QStringLiteral(": ") + m_lastLogError);
    }
}

bool MqttSession::waitBeforeRetry(int seconds)
{
    std::unique_lock lock(m_mutex);
    return !m_told.wait_for(lock, std::chrono::seconds(seconds), [this] { return told(); });
}

void MqttSession::onConnect(mosquitto* mosq, void* self, int rc)
{
    auto* session = static_cast<MqttSession*>(self);
    if (rc != 0) {
        session->m_refusal = QString::fromUtf8(mosquitto_connack_string(rc));
        return;
    }
    session->m_wasUp = true;
    session->m_connected = true; // before the filters are read: see subscribe()
    session->m_pendingSubscriptions.clear();
    for (const QString& filter : session->m_link->filters()) {
        int mid = 0;
        if (mosquitto_subscribe(mosq, &mid, filter.toUtf8().constData(), 1) == MOSQ_ERR_SUCCESS)
            session->m_pendingSubscriptions.insert(mid);
    }
    session->m_awaitingSubscriptions = !session->m_pendingSubscriptions.empty();
    if (!session->m_awaitingSubscriptions)
        session->m_link->push({MqttEvent::Kind::Up, session->m_id, {}, {}, false});
}

void MqttSession::onDisconnect(mosquitto*, void* self, int)
{
    static_cast<MqttSession*>(self)->m_connected = false;
}

void MqttSession::onPublish(mosquitto*, void* self, int mid)
{
    auto* session = static_cast<MqttSession*>(self);
    --session->m_outstanding;
    if (mid == session->m_closeMid)
        session->m_closeAcked = true;
}

void MqttSession::onSubscribe(mosquitto*, void* self, int mid, int, const int*)
{
    auto* session = static_cast<MqttSession*>(self);
    session->m_pendingSubscriptions.erase(mid);
    if (session->m_awaitingSubscriptions && session->m_pendingSubscriptions.empty()) {
        session->m_awaitingSubscriptions = false;
        session->m_link->push({MqttEvent::Kind::Up, session->m_id, {}, {}, false});
    }
}

void MqttSession::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* session = static_cast<MqttSession*>(self);
    if (message->payloadlen > kPayloadLimit) {
        session->m_link->countDropped();
        return;
    }
    session->m_link->push(
        {MqttEvent::Kind::Message, session->m_id, QString::fromUtf8(message->topic),
         QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
         message->retain});
}

void MqttSession::onLog(mosquitto*, void* self, int level, const char* text)
{
    if (level & MOSQ_LOG_ERR)
        static_cast<MqttSession*>(self)->m_lastLogError = QString::fromUtf8(text);
}
