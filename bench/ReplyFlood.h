#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

// Sends correct 8-byte replies to 127.0.0.1:port from its own thread, as fast as it can, for a
// given time. The temperature alternates so each reply changes the display.
class ReplyFlood {
public:
    ReplyFlood(std::uint16_t port, int durationMs);
    ~ReplyFlood();
    ReplyFlood(const ReplyFlood&) = delete;
    ReplyFlood& operator=(const ReplyFlood&) = delete;

    void join();
    std::uint64_t sent() const { return m_sent; }

private:
    void run(std::uint16_t port, int durationMs);

    std::atomic<std::uint64_t> m_sent = 0;
    std::thread m_thread;
};
