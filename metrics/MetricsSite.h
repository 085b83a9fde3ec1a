#pragma once

#include "http/HttpMessage.h"
#include "metrics/MetricsExposition.h"

#include <memory>

class Clock;

// GET /metrics, answered on the server's thread from the last snapshot published from the main
// thread; every other path is another site's.
class MetricsSite {
public:
    MetricsSite();

    // What scrapes show from now on. The reply age is as of each scrape: `clock`'s steady time
    // (read on the server thread) since `lastReplyMs`, the last correct reply or start-up.
    void publish(const MetricsExposition& values, const Clock& clock, qint64 lastReplyMs);
    // For the server; it keeps the snapshot alive as long as it may call.
    HttpHandler handler() const;

    struct Snapshot;

private:
    std::shared_ptr<Snapshot> m_snapshot;
};
