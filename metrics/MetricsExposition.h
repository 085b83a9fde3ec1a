#pragma once

#include "device/Reading.h"

#include <QByteArray>
#include <QtGlobal>
#include <array>
#include <cstdint>
#include <optional>

// The program's readings and counts in the Prometheus text format (0.0.4), for a scraper. The
// reply age is handed in at each request from the window's own steady clock, so the text is a
// pure function of what was noted.
class MetricsExposition {
public:
    static constexpr const char* ContentType = "text/plain; version=0.0.4; charset=utf-8";

    void noteReply(const ::Reading& reading);
    void noteWrongSize();
    // AlertRule bits of one pass.
    void noteRulesFired(std::uint8_t rules);
    void noteMailFailure();
    // AlertRule bits that re-armed by themselves.
    void noteRecovered(std::uint8_t rules);
    // A push to a channel (PushChannels::Channel) that failed, kept or not.
    void notePushFailure(int channel);
    // Maintenance until then (wall clock ms); 0 when alerts go out.
    void noteMutedUntil(qint64 untilMs) { m_mutedUntilMs = untilMs; }
    void noteMqttConnected(bool connected) { m_mqttConnected = connected; }

    // `msSinceLastReply`: since the last correct reply, or since start-up before the first.
    QByteArray text(qint64 msSinceLastReply) const;

private:
    std::optional<::Reading> m_last; // none before the first correct reply
    quint64 m_replies = 0;
    quint64 m_wrongSize = 0;
    quint64 m_mailFailures = 0;
    qint64 m_mutedUntilMs = 0;
    bool m_mqttConnected = false;
    std::array<quint64, 7> m_alerts{}; // one per AlertRule bit, lowest first
    std::array<quint64, 7> m_recoveries{};
    std::array<quint64, 3> m_pushFailures{}; // ntfy, webhook, telegram
};
