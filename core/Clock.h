#pragma once

#include <QtGlobal>
#include <vector>

class ClockTimer;

// Where the program reads the time: the wall clock for what it records, a steady one for what it
// measures and waits on. Tests hand in a clock of their own to make minutes pass at once.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the epoch, as the calendar has it.
    virtual qint64 nowMs() const = 0;
    // Milliseconds on a clock that never jumps; only differences mean anything.
    virtual qint64 steadyMs() const = 0;

    // The machine's own clocks.
    static const Clock& system();

protected:
    // A clock moved by hand says so here, so that the waits it made due end at once.
    void moved() const;
    // Only such a clock keeps a list of the waits on it.
    void setMovedByHand() { m_byHand = true; }

private:
    friend class ClockTimer;
    bool m_byHand = false;
    mutable std::vector<ClockTimer*> m_timers; // the thread's that owns the waits
};
