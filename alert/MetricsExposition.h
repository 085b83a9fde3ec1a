#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <array>
#include <cstdint>
#include <optional>

// The program's readings and counts in the Prometheus text format (0.0.4), for a scraper.
// Times are a steady clock's milliseconds, handed in by the caller, so the text is a pure
// function of what was noted.
class MetricsExposition {
public:
    static constexpr const char* ContentType = "text/plain; version=0.0.4; charset=utf-8";

    // `startMs`: start-up; the reply age counts from it until the first correct reply.
    explicit MetricsExposition(qint64 startMs);

    void noteReply(double celsius, std::uint8_t portBits, qint64 nowMs);
    void noteWrongSize();
    // AlertRule bits of one pass.
    void noteRulesFired(std::uint8_t rules);
    void noteMailFailure();

    QByteArray text(qint64 nowMs) const;

private:
    struct Reading {
        double celsius;
        std::uint8_t portBits;
    };
    std::optional<Reading> m_last; // none before the first correct reply
    qint64 m_lastReplyMs;
    quint64 m_replies = 0;
    quint64 m_wrongSize = 0;
    quint64 m_mailFailures = 0;
    std::array<quint64, 7> m_alerts{}; // one per AlertRule bit, lowest first
};
