#pragma once

#include <functional>

// Waits in a real event loop (one that blocks for events, as the program's own loops do), so
// idle passes run meanwhile; QTest::qWait and QTRY_* do not let them run.
namespace EventWait {

// True as soon as `done` holds, checked every few milliseconds; false after timeoutMs.
bool until(const std::function<bool()>& done, int timeoutMs = 10000);

} // namespace EventWait
