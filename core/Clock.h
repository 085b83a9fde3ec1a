#pragma once

#include <QtGlobal>

// Where the program reads the time: the wall clock for what it records, a steady one for what it
// measures. Tests hand in a clock of their own to make minutes pass at once.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the epoch, as the calendar has it.
    virtual qint64 nowMs() const = 0;
    // Milliseconds on a clock that never jumps; only differences mean anything.
    virtual qint64 steadyMs() const = 0;

    // The machine's own clocks.
    static const Clock& system();
};
