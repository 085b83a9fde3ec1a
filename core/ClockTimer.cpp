#include "core/ClockTimer.h"

#include "core/Clock.h"

#include <algorithm>
#include <limits>

ClockTimer::ClockTimer(const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ClockTimer::check);
    if (clock.m_byHand)
        clock.m_timers.push_back(this);
}

ClockTimer::~ClockTimer()
{
    auto& timers = m_clock.m_timers;
    timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
}

void ClockTimer::startAt(qint64 steadyMs)
{
    m_atMs = steadyMs;
    m_active = true;
    const qint64 left = std::max<qint64>(0, steadyMs - m_clock.steadyMs());
    m_timer.start(int(std::min<qint64>(left, std::numeric_limits<int>::max())));
}

void ClockTimer::start(qint64 ms)
{
    startAt(m_clock.steadyMs() + ms);
}

void ClockTimer::stop()
{
    m_active = false;
    m_timer.stop();
}

void ClockTimer::check()
{
    if (!m_active)
        return;
    // A wait longer than a timer takes, or one the clock has not reached yet, goes on.
    if (m_clock.steadyMs() < m_atMs) {
        startAt(m_atMs);
        return;
    }
    m_active = false;
    emit timeout();
}

void ClockTimer::clockMoved()
{
    // From the event loop, never inside the test's own call.
    if (m_active && m_clock.steadyMs() >= m_atMs)
        m_timer.start(0);
}
