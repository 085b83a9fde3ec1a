#include "support/EventWait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace EventWait {

bool until(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    return done();
}

} // namespace EventWait
