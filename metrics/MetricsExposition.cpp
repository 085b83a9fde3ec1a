#include "metrics/MetricsExposition.h"

#include "alert/AlertRules.h"
#include "device/BoardProtocol.h"
#include "push/PushChannels.h"

#include <charconv>

namespace {

// The shortest text that reads back as the same double.
QByteArray number(double value)
{
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return QByteArray(buffer, end - buffer);
}

void family(QByteArray& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void sample(QByteArray& out, const char* name, const QByteArray& value,
            const char* labels = nullptr)
{
    out += name;
    if (labels) {
        out += '{';
        out += labels;
        out += '}';
    }
    out += ' ';
    out += value;
    out += '\n';
}

void perRule(QByteArray& out, const char* name, const std::array<quint64, 7>& counts)
{
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const QByteArray labels = QByteArray("rule=\"") + AlertRuleNames[i] + '"';
        sample(out, name, QByteArray::number(counts[i]), labels.constData());
    }
}

} // namespace

void MetricsExposition::noteReply(const ::Reading& reading)
{
    m_last = reading;
    ++m_replies;
}

void MetricsExposition::noteWrongSize()
{
    ++m_wrongSize;
}

void MetricsExposition::noteRulesFired(std::uint8_t rules)
{
    for (std::size_t i = 0; i < m_alerts.size(); ++i)
        m_alerts[i] += (rules >> i) & 1;
}

void MetricsExposition::noteRecovered(std::uint8_t rules)
{
    for (std::size_t i = 0; i < m_recoveries.size(); ++i)
        m_recoveries[i] += (rules >> i) & 1;
}

void MetricsExposition::noteMailFailure()
{
    ++m_mailFailures;
}

void MetricsExposition::notePushFailure(int channel)
{
    if (channel >= 0 && channel < int(m_pushFailures.size()))
        ++m_pushFailures[std::size_t(channel)];
}

QByteArray MetricsExposition::text(qint64 msSinceLastReply) const
{
    QByteArray out;
    out.reserve(2048);
    family(out, "zarvik_temperature_celsius", "gauge",
           "Temperature of the last correct reply from the board.");
    if (m_last)
        sample(out, "zarvik_temperature_celsius", number(double(m_last->temperature)));
    family(out, "zarvik_input", "gauge", "Input of the last correct reply: 1 for H, 0 for L.");
    if (m_last) {
        sample(out, "zarvik_input", m_last->rb1 ? "1" : "0", "input=\"RB1\"");
        sample(out, "zarvik_input", m_last->rb0 ? "1" : "0", "input=\"RB0\"");
    }
    family(out, "zarvik_last_reply_age_seconds", "gauge",
           "Seconds since the last correct reply, or since start-up before the first.");
    sample(out, "zarvik_last_reply_age_seconds",
           number(double(std::max<qint64>(0, msSinceLastReply)) / 1000.0));
    family(out, "zarvik_replies_total", "counter", "Correct replies received from the board.");
    sample(out, "zarvik_replies_total", QByteArray::number(m_replies));
    family(out, "zarvik_wrong_size_replies_total", "counter",
           "Datagrams of the wrong size received instead of a reply.");
    sample(out, "zarvik_wrong_size_replies_total", QByteArray::number(m_wrongSize));
    family(out, "zarvik_alerts_total", "counter", "Times each alert rule fired.");
    perRule(out, "zarvik_alerts_total", m_alerts);
    family(out, "zarvik_recoveries_total", "counter",
           "Times each alert rule re-armed by itself once its condition cleared.");
    perRule(out, "zarvik_recoveries_total", m_recoveries);
    family(out, "zarvik_muted_until_seconds", "gauge",
           "End of the maintenance that keeps alerts from everyone, as a Unix time; 0 when none.");
    sample(out, "zarvik_muted_until_seconds", QByteArray::number(m_mutedUntilMs / 1000));
    family(out, "zarvik_mqtt_connected", "gauge",
           "1 while the MQTT broker holds the connection, 0 otherwise (or without a broker).");
    sample(out, "zarvik_mqtt_connected", m_mqttConnected ? "1" : "0");
    family(out, "zarvik_mail_failures_total", "counter", "Alert mails that could not be sent.");
    sample(out, "zarvik_mail_failures_total", QByteArray::number(m_mailFailures));
    family(out, "zarvik_push_failures_total", "counter",
           "Alert pushes that could not be sent at once, by channel.");
    static_assert(std::size(PushChannels::ChannelNames) ==
                  std::tuple_size_v<decltype(m_pushFailures)>);
    for (std::size_t i = 0; i < m_pushFailures.size(); ++i) {
        const QByteArray labels = QByteArray("channel=\"") + PushChannels::ChannelNames[i] + '"';
        sample(out, "zarvik_push_failures_total", QByteArray::number(m_pushFailures[i]),
               labels.constData());
    }
    return out;
}
