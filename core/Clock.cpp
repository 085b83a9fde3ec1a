#include "core/Clock.h"

#include <QDateTime>
#include <QDeadlineTimer>

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
