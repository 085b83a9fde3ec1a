// udp-flood: sends a bounded flood of UDP datagrams of random sizes to a port on this machine,
// with a correct 8-byte board reply every so often, to see how the program copes.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int BadUsage = 2;
constexpr int ReplySize = 8;

struct Options {
    std::string host = "127.0.0.1";
    long port = 0;
    long count = 100000;
    long sockets = 4;
    long maxSize = 1500;
    long validEvery = 1000; // 0: none
    long validRaw = 123;
    long bits = 0;
    long rate = 0; // datagrams per second, 0: as fast as possible
    long seconds = 60;
    long seed = 1;
};

int usage(const char* why)
{
    std::fprintf(stderr, "udp-flood: %s\n", why);
    std::fprintf(stderr,
                 "usage: udp-flood --port N [--host 127.0.0.1] [--count 100000] [--sockets 4]\n"
                 "       [--max-size 1500] [--valid-every 1000] [--valid-raw 123] [--bits 0]\n"
                 "       [--rate PER_SECOND] [--seconds 60] [--seed 1]\n"
                 "Sends only to loopback. Every valid-every-th datagram is a correct 8-byte reply\n"
                 "carrying valid-raw and bits; the others are 0..max-size bytes, never 8.\n");
    return BadUsage;
}

bool number(const char* text, long min, long max, long* value)
{
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < min || parsed > max)
        return false;
    *value = parsed;
    return true;
}

bool parse(int argc, char** argv, Options* options)
{
    struct Numeric {
        const char* name;
        long* value;
        long min;
        long max;
    };
    const Numeric numerics[] = {
        {"--port", &options->port, 1, 65535},
        {"--count", &options->count, 0, 100000000},
        {"--sockets", &options->sockets, 1, 64},
        {"--max-size", &options->maxSize, 0, 65507},
        {"--valid-every", &options->validEvery, 0, 100000000},
        {"--valid-raw", &options->validRaw, 0, 65535},
        {"--bits", &options->bits, 0, 255},
        {"--rate", &options->rate, 0, 100000000},
        {"--seconds", &options->seconds, 1, 3600},
        {"--seed", &options->seed, 0, 2147483647},
    };
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc)
            return false;
        if (std::strcmp(argv[i], "--host") == 0) {
            options->host = argv[i + 1];
            continue;
        }
        bool known = false;
        for (const Numeric& n : numerics) {
            if (std::strcmp(argv[i], n.name) != 0)
                continue;
            if (!number(argv[i + 1], n.min, n.max, n.value))
                return false;
            known = true;
        }
        if (!known)
            return false;
    }
    return options->port != 0;
}

// Loopback only: this tool must never flood anything beyond this machine.
bool loopbackAddress(const std::string& host, sockaddr_storage* address, socklen_t* length,
                     long port)
{
    std::memset(address, 0, sizeof *address);
    auto* v4 = reinterpret_cast<sockaddr_in*>(address);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        if ((ntohl(v4->sin_addr.s_addr) >> 24) != 127)
            return false;
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        *length = sizeof *v4;
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(address);
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1 &&
        IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        *length = sizeof *v6;
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, &options))
        return usage("bad or missing arguments");
    sockaddr_storage target;
    socklen_t targetLength = 0;
    if (!loopbackAddress(options.host, &target, &targetLength, options.port))
        return usage("the host must be a loopback address (127.x.x.x or ::1)");

    std::vector<int> sockets;
    for (long i = 0; i < options.sockets; ++i) {
        const int fd = ::socket(target.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            std::perror("udp-flood: socket");
            return 1;
        }
        sockets.push_back(fd);
    }

    std::vector<char> reply(ReplySize, 0);
    reply[1] = static_cast<char>(options.bits);
    reply[4] = static_cast<char>(options.validRaw >> 8);
    reply[5] = static_cast<char>(options.validRaw & 0xff);
    std::vector<char> junk(static_cast<size_t>(options.maxSize) + 1);
    std::mt19937 random(static_cast<unsigned>(options.seed));
    for (char& byte : junk)
        byte = static_cast<char>(random());
    std::uniform_int_distribution<long> sizes(0, options.maxSize);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(options.seconds);
    long sent = 0, valid = 0, failed = 0, i = 0;
    bool timedOut = false;
    for (; i < options.count; ++i) {
        if (options.rate > 0) {
            // Paced: datagram i goes out no earlier than i / rate seconds after the start.
            const auto due = start + std::chrono::microseconds(i * 1000000 / options.rate);
            if (due > Clock::now() + std::chrono::milliseconds(1))
                std::this_thread::sleep_until(due);
        }
        if ((i & 0xff) == 0 && Clock::now() > deadline) {
            timedOut = true;
            break;
        }
        const bool isValid =
            options.validEvery > 0 && i % options.validEvery == options.validEvery - 1;
        long size = ReplySize;
        if (!isValid) {
            do
                size = sizes(random);
            while (size == ReplySize && options.maxSize > 0);
        }
        const char* data = isValid ? reply.data() : junk.data();
        const int fd = sockets[static_cast<size_t>(i % options.sockets)];
        if (::sendto(fd, data, static_cast<size_t>(size), 0,
                     reinterpret_cast<const sockaddr*>(&target), targetLength) < 0) {
            ++failed; // the receiver's buffer is full or it is gone; a flood goes on regardless
            continue;
        }
        ++sent;
        valid += isValid;
    }
    for (const int fd : sockets)
        ::close(fd);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::printf("sent %ld valid %ld failed %ld in %lld ms%s\n", sent, valid, failed,
                static_cast<long long>(ms), timedOut ? " (stopped at the time limit)" : "");
    return 0;
}
