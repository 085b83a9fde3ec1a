#include "core/Clock.h"

#include "core/ClockTimer.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <algorithm>

namespace {

class SystemClock : public Clock {
public:
    qint64 nowMs() const override { return QDateTime::currentMSecsSinceEpoch(); }
    qint64 steadyMs() const override
    {
        return QDeadlineTimer::current(Qt::PreciseTimer).deadline();
    }
};

} // namespace

const Clock& Clock::system()
{
    static const SystemClock clock;
    return clock;
}

void Clock::moved() const
{
    // A copy: a timer's owner may start or end waits meanwhile.
    const std::vector<ClockTimer*> timers = m_timers;
    for (ClockTimer* timer : timers) {
        if (std::find(m_timers.begin(), m_timers.end(), timer) != m_timers.end())
            timer->clockMoved();
    }
}
