#include "ReplyFlood.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

ReplyFlood::ReplyFlood(std::uint16_t port, int durationMs)
    : m_thread([this, port, durationMs] { run(port, durationMs); })
{
}

ReplyFlood::~ReplyFlood()
{
    join();
}

void ReplyFlood::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void ReplyFlood::run(std::uint16_t port, int durationMs)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const unsigned char replies[2][8] = {{0, 0, 0, 0, 0, 60, 0, 0}, {0, 0, 0, 0, 0, 61, 0, 0}};

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(durationMs);
    std::uint64_t sent = 0;
    while (std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 64; ++i) {
            if (::sendto(fd, replies[sent & 1], 8, 0, reinterpret_cast<const sockaddr*>(&to),
                         sizeof to) == 8)
                ++sent;
        }
    }
    m_sent = sent;
    ::close(fd);
}
