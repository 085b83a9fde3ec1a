#include "monitor/DesktopNotifier.h"

#include <QByteArray>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <systemd/sd-bus.h>
#include <thread>

namespace {

// Notifications waiting for the bus at most: one that never answers gathers no more than these.
constexpr std::size_t MostWaiting = 16;

struct Note {
    QByteArray summary;
    QByteArray body;
    unsigned char urgency;
};

// Connecting to the session bus waits for the bus to answer, and a bus that accepts and never
// answers would hold whichever thread asked, for ever. Notifications therefore go out from a
// thread of their own, never from the one that polls; nothing waits for that thread, not even
// the program's end, so its state is never destroyed.
struct Sender {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Note> waiting;
};

bool send(sd_bus* bus, const Note& note)
{
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.Notifications",
                                           "/org/freedesktop/Notifications",
                                           "org.freedesktop.Notifications", "Notify");
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
    // server's default).
    if (r >= 0)
        r = sd_bus_message_append(call, "susssas", DesktopNotifier::AppName, 0u, "zarvik-mail",
                                  note.summary.constData(), note.body.constData(), 0);
    if (r >= 0)
        r = sd_bus_message_append(call, "a{sv}i", 1, "urgency", "y", note.urgency, -1);
    // The answer, an id or an error, is of no use: the server need not send it.
    if (r >= 0)
        r = sd_bus_message_set_expect_reply(call, 0);
    if (r >= 0)
        r = sd_bus_send(bus, call, nullptr);
    sd_bus_message_unref(call);
    if (r >= 0)
        r = sd_bus_flush(bus);
    // What the bus says unasked (NameAcquired and the like) is read and dropped.
    while (r >= 0 && sd_bus_process(bus, nullptr) > 0) {
    }
    return r >= 0;
}

void run(Sender* sender)
{
    sd_bus* bus = nullptr;
    for (;;) {
        Note note;
        {
            std::unique_lock lock(sender->mutex);
            sender->wake.wait(lock, [sender] { return !sender->waiting.empty(); });
            note = std::move(sender->waiting.front());
            sender->waiting.pop_front();
        }
        // No bus now is tried again at the next notification.
        if (!bus && sd_bus_open_user(&bus) < 0)
            bus = nullptr;
        if (bus && !send(bus, note))
            bus = sd_bus_flush_close_unref(bus);
    }
}

Sender& sender()
{
    static Sender* const started = [] {
        auto* s = new Sender;
        std::thread(run, s).detach();
        return s;
    }();
    return *started;
}

} // namespace

namespace DesktopNotifier {

void notify(const QString& summary, const QString& body, Urgency urgency)
{
    Sender& s = sender();
    {
        const std::lock_guard lock(s.mutex);
        if (s.waiting.size() >= MostWaiting)
            return;
        s.waiting.push_back({summary.toUtf8(), body.toUtf8(), static_cast<unsigned char>(urgency)});
    }
    s.wake.notify_one();
}

} // namespace DesktopNotifier
