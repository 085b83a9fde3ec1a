#pragma once

#include <atomic>
#include <mutex>

// What every libcurl transfer of the program (SMTP, HTTP posts) shares.
namespace Transfer {

// Initialises libcurl once per process. The first transfer does it if nobody did before; the
// program does it at start, so no alert pays for it.
void init();

} // namespace Transfer

// Ends a running transfer from any thread: its socket is shut down, so even a wait on a silent
// server returns at once.
class TransferAbort {
public:
    enum class Reason { None, Cancelled, TimedOut };

    void request(Reason reason = Reason::Cancelled);
    Reason reason() const { return m_reason.load(); }
    bool requested() const { return reason() != Reason::None; }

    // Shuts the connection down without giving a reason, so that cleaning up never waits.
    void closeConnection();

    // For the transfer: the socket it is using, or -1.
    void attach(int socket);
    void detach(int socket);
    // Lets this object end the libcurl transfer `handle` (a CURL*) at once, from any thread.
    void watch(void* handle);

private:
    std::atomic<Reason> m_reason = Reason::None;
    std::mutex m_mutex;
    int m_socket = -1;
};
