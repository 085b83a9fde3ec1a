#include "metrics/MetricsServer.h"

#include "core/Clock.h"
#include "device/UdpEndpoint.h"

#include <QHostAddress>
#include <QHostInfo>
#include <cerrno>
#include <cstring>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

struct MetricsServer::Snapshot {
    std::mutex mutex;
    MetricsExposition values;
    const Clock* clock = nullptr;
    qint64 lastReplyMs = 0; // on the clock's steady time

    // On the server thread: the text as of now, built outside the lock.
    QByteArray text()
    {
        std::unique_lock lock(mutex);
        const MetricsExposition copy = values;
        const Clock* now = clock;
        const qint64 lastReply = lastReplyMs;
        lock.unlock();
        return copy.text(now ? now->steadyMs() - lastReply : 0);
    }
};

namespace {

// Bounds that no client can push the server past: one scraper needs one connection, a few
// more let a second look in; the rest of the process's descriptors stay for mail, the outbox
// and the display. A request line and its headers fit in the memory many times over.
constexpr unsigned ConnectionLimit = 16;
constexpr unsigned PerClientLimit = 8; // one address cannot take every place
constexpr unsigned IdleSeconds = 5;
constexpr size_t MemoryPerConnection = 32 * 1024;
constexpr int Backlog = 16;

MHD_Result queue(MHD_Connection* connection, unsigned status, const QByteArray& body)
{
    MHD_Response* response = MHD_create_response_from_buffer(
        size_t(body.size()), const_cast<char*>(body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    if (status == MHD_HTTP_OK)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                MetricsExposition::ContentType);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

// Answers in its first call for a request, with the headers only: a body is never read in, and
// the connection is closed after the answer when one was sent.
MHD_Result answer(void* snapshot, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t*, void**)
{
    const bool scrape =
        std::strcmp(url, "/metrics") == 0 && (std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                                              std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0);
    if (!scrape)
        return queue(connection, MHD_HTTP_NOT_FOUND, {});
    return queue(connection, MHD_HTTP_OK, static_cast<MetricsServer::Snapshot*>(snapshot)->text());
}

// A socket listening on `address`, or -1 with the system's words in `error`.
int listeningSocket(const QHostAddress& address, quint16 port, QString* error)
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    if (v6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        in6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    }
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    // As a QTcpServer would: a restart finds the port free, and "::" is IPv6 alone.
    const bool ok = fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                    (!v6 || ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) == 0) &&
                    ::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) == 0 &&
                    ::listen(fd, Backlog) == 0;
    if (ok)
        return fd;
    *error = QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0)
        ::close(fd);
    return -1;
}

quint16 boundPort(int fd)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return 0;
    return ntohs(storage.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port
                     : reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

// Whether `fd` is still the socket whose inode is `inode` (the daemon may have closed it).
bool stillOpen(int fd, ino_t inode)
{
    struct stat now {};
    return ::fstat(fd, &now) == 0 && now.st_ino == inode;
}

} // namespace

void MetricsServer::StopDaemon::operator()(MHD_Daemon* daemon) const
{
    MHD_stop_daemon(daemon); // joins its thread and closes its sockets
}

bool MetricsServer::parseEndpoint(const QString& text, Endpoint* endpoint, QString* error)
{
    const QString trimmed = text.trimmed();
    const qsizetype colon = trimmed.lastIndexOf(QLatin1Char(':'));
    QString host = trimmed.left(std::max<qsizetype>(colon, 0));
    const QString portText = colon < 0 ? QString() : trimmed.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        host.clear(); // an IPv6 address needs its brackets, or the port is a guess

    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (host.isEmpty() || !ok || port < 1 || port > 65535) {
        if (error)
            *error = tr("Metrics address \"%1\" is not host:port (say 127.0.0.1:9464) - not "
                        "served")
                         .arg(trimmed);
        return false;
    }
    *endpoint = Endpoint{host, quint16(port)};
    return true;
}

MetricsServer::MetricsServer(QObject* parent)
    : QObject(parent)
    , m_snapshot(std::make_unique<Snapshot>())
{
}

MetricsServer::~MetricsServer()
{
    stop();
}

void MetricsServer::publish(const MetricsExposition& values, const Clock& clock, qint64 lastReplyMs)
{
    const std::lock_guard lock(m_snapshot->mutex);
    m_snapshot->values = values;
    m_snapshot->clock = &clock;
    m_snapshot->lastReplyMs = lastReplyMs;
}

void MetricsServer::stop()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(std::exchange(m_lookupId, -1));
    m_daemon.reset();
    m_port = 0;
}

void MetricsServer::listenOn(const QString& text)
{
    if (text.trimmed() == m_text)
        return;
    m_text = text.trimmed();
    stop();
    if (m_text.isEmpty())
        return;
    QString error;
    Endpoint endpoint;
    if (!parseEndpoint(m_text, &endpoint, &error)) {
        report(error);
        return;
    }
    QHostAddress address;
    if (address.setAddress(endpoint.host)) {
        listenAt(address, endpoint.port);
        return;
    }
    const QString wanted = m_text;
    m_lookupId =
        QHostInfo::lookupHost(endpoint.host, this, [this, wanted, endpoint](const QHostInfo& info) {
            if (wanted != m_text)
                return;
            m_lookupId = -1;
            // One address, as for the board: "localhost" serves on 127.0.0.1.
            const QHostAddress chosen = preferredAddress(info.addresses());
            if (chosen.isNull())
                report(tr("Metrics host \"%1\" cannot be resolved: %2 - not served")
                           .arg(endpoint.host, info.errorString()));
            else
                listenAt(chosen, endpoint.port);
        });
}

void MetricsServer::listenAt(const QHostAddress& address, quint16 port)
{
    QString why;
    const int fd = listeningSocket(address, port, &why);
    const quint16 bound = fd >= 0 ? boundPort(fd) : 0;
    struct stat socketStat {};
    if (fd >= 0 && ::fstat(fd, &socketStat) != 0)
        socketStat.st_ino = 0;
    const unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD |
                           (address.protocol() == QAbstractSocket::IPv6Protocol ? MHD_USE_IPv6 : 0);
    MHD_Daemon* daemon =
        fd < 0 ? nullptr
               : MHD_start_daemon(flags, 0, nullptr, nullptr, &answer, m_snapshot.get(),
                                  MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT,
                                  ConnectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                                  PerClientLimit, MHD_OPTION_CONNECTION_TIMEOUT, IdleSeconds,
                                  MHD_OPTION_CONNECTION_MEMORY_LIMIT, MemoryPerConnection,
                                  MHD_OPTION_END);
    if (fd >= 0 && !daemon) {
        why = tr("the HTTP server did not start");
        if (stillOpen(fd, socketStat.st_ino))
            ::close(fd);
    }
    if (!daemon) {
        report(tr("Cannot serve metrics on %1 port %2: %3")
                   .arg(address.toString())
                   .arg(port)
                   .arg(why));
        return;
    }
    m_daemon.reset(daemon);
    m_port = bound;
}

void MetricsServer::report(const QString& why)
{
    emit problem(why);
}
