#include "metrics/MetricsSite.h"

#include "core/Clock.h"

#include <mutex>

struct MetricsSite::Snapshot {
    std::mutex mutex;
    MetricsExposition values;
    const Clock* clock = nullptr;
    qint64 lastReplyMs = 0; // on the clock's steady time

    // On the server thread: the text as of now, built outside the lock.
    QByteArray text()
    {
        std::unique_lock lock(mutex);
        const MetricsExposition copy = values;
        const Clock* now = clock;
        const qint64 lastReply = lastReplyMs;
        lock.unlock();
        return copy.text(now ? now->steadyMs() - lastReply : 0);
    }
};

MetricsSite::MetricsSite()
    : m_snapshot(std::make_shared<Snapshot>())
{
}

void MetricsSite::publish(const MetricsExposition& values, const Clock& clock, qint64 lastReplyMs)
{
    const std::lock_guard lock(m_snapshot->mutex);
    m_snapshot->values = values;
    m_snapshot->clock = &clock;
    m_snapshot->lastReplyMs = lastReplyMs;
}

HttpHandler MetricsSite::handler() const
{
    return [snapshot = m_snapshot](const HttpRequest& request) -> std::optional<HttpReply> {
        if (request.path != "/metrics")
            return std::nullopt;
        if (request.method != "GET" && request.method != "HEAD")
            return HttpReply{404, {}, {}, {}, {}};
        return HttpReply{200, MetricsExposition::ContentType, snapshot->text(), {}, {}};
    };
}
