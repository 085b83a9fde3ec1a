#include "support/MqttSubscriber.h"

#include "support/ChildProcess.h"
#include "support/EventWait.h"
#include "support/MqttBroker.h"

namespace {
constexpr int kSubscribeTimeoutMs = 15000;
const QByteArray kMark = "MSG> ";

std::optional<MqttSubscriber::Message> lastOn(const QList<MqttSubscriber::Message>& messages,
                                              const QString& topic)
{
    for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
        if (it->topic == topic)
            return *it;
    }
    return std::nullopt;
}
} // namespace

MqttSubscriber::MqttSubscriber(const MqttBroker& broker, const QString& filter)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    dieWithParent(m_process);
    // -d: its SUBACK line says when the subscription holds. The payload in hex, the topic last:
    // each may hold spaces.
    // Line-buffered: its debug lines are not flushed otherwise.
    m_process.start(QStringLiteral("stdbuf"),
                    QStringList{QStringLiteral("-oL"), QStringLiteral("mosquitto_sub")} +
                        broker.clientArguments() +
                        QStringList{QStringLiteral("-d"), QStringLiteral("-q"), QStringLiteral("1"),
                                    QStringLiteral("-t"), filter, QStringLiteral("-F"),
                                    QString::fromLatin1(kMark) + QStringLiteral("%r %x %t")});
    EventWait::until(
        [this] {
            read();
            return m_subscribed || m_process.state() == QProcess::NotRunning;
        },
        kSubscribeTimeoutMs);
    if (!m_subscribed)
        m_error = QStringLiteral("mosquitto_sub did not subscribe (%1): %2")
                      .arg(m_process.errorString(), QString::fromLocal8Bit(m_output));
}

MqttSubscriber::~MqttSubscriber()
{
    stopProcess(m_process);
}

QList<MqttSubscriber::Message> MqttSubscriber::messages()
{
    read();
    return m_messages;
}

std::optional<MqttSubscriber::Message> MqttSubscriber::waitFor(const QString& topic, int timeoutMs)
{
    EventWait::until(
        [&] {
            read();
            return lastOn(m_messages, topic).has_value();
        },
        timeoutMs);
    return lastOn(m_messages, topic);
}

void MqttSubscriber::read()
{
    const QByteArray more = m_process.readAll();
    m_output += more;
    m_pending += more;
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        if (line.contains("received SUBACK"))
            m_subscribed = true;
        if (!line.startsWith(kMark))
            continue;
        // "<retained> <hex payload> <topic>"; the payload is empty for an empty message.
        const QByteArray rest = line.mid(kMark.size());
        const qsizetype first = rest.indexOf(' ');
        const qsizetype second = rest.indexOf(' ', first + 1);
        if (first < 0 || second < 0)
            continue;
        m_messages.append({QString::fromUtf8(rest.mid(second + 1)),
                           QByteArray::fromHex(rest.mid(first + 1, second - first - 1)),
                           rest.left(first) == "1"});
    }
}
