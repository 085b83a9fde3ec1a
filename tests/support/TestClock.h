#pragma once

#include "core/Clock.h"

#include <atomic>

// A clock the test moves by hand: minutes pass at once, and the waits they end are over at the
// next turn of the event loop. Read from any thread; moved on the one that waits on it.
class TestClock : public Clock {
public:
    explicit TestClock(qint64 nowMs = 1765000000000) // a December afternoon in 2025
        : m_now(nowMs)
    {
        setMovedByHand();
    }
    qint64 nowMs() const override { return m_now; }
    qint64 steadyMs() const override { return m_steady; }
    void advance(qint64 ms)
    {
        m_now += ms;
        m_steady += ms;
        moved();
    }

private:
    std::atomic<qint64> m_now;
    std::atomic<qint64> m_steady{0};
};
