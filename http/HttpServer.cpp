#include "http/HttpServer.h"

#include "device/UdpEndpoint.h"

#include <QHostAddress>
#include <QHostInfo>
#include <cerrno>
#include <cstring>
#include <map>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bounds that no client can push the server past: a scraper or a page needs one connection, a
// few more let others look in; the rest of the process's descriptors stay for mail, the outbox
// and the display. A request line and its headers fit in the memory many times over.
constexpr unsigned ConnectionLimit = 16;
constexpr unsigned PerClientLimit = 8; // one address cannot take every place
constexpr unsigned IdleSeconds = 5;
constexpr size_t MemoryPerConnection = 32 * 1024;
constexpr int Backlog = 16;

} // namespace

// One request on its way: its body as it comes, then the answer the owner's thread gave.
struct HttpCall {
    QByteArray body;
    bool tooLarge = false;
    bool waiting = false;
    std::optional<HttpReply> reply;
};
using Call = HttpCall;

struct HttpServer::Shared {
    std::mutex mutex;
    std::shared_ptr<const HttpHandler> handler;
    HttpServer* owner = nullptr; // alive while its daemon runs
    bool tls = false;
    // Connections waiting for the owner's thread; a stopping daemon answers them itself.
    std::map<Call*, MHD_Connection*> waiting;
};

namespace {

MHD_Result queue(MHD_Connection* connection, const HttpReply& reply)
{
    MHD_Response* response = MHD_create_response_from_buffer(
        size_t(reply.body.size()), const_cast<char*>(reply.body.constData()),
        MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    if (!reply.contentType.isEmpty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                reply.contentType.constData());
    for (const auto& [name, value] : reply.headers)
        MHD_add_response_header(response, name.constData(), value.constData());
    const MHD_Result queued = MHD_queue_response(connection, reply.status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result keep(void* to, MHD_ValueKind kind, const char* key, const char* value)
{
    auto* request = static_cast<HttpRequest*>(to);
    const QByteArray name(key ? key : "");
    const QByteArray text(value ? value : "");
    if (kind == MHD_HEADER_KIND)
        request->headers.insert(name.toLower(), text);
    else
        request->query.append({name, text});
    return MHD_YES;
}

HttpRequest requestOf(MHD_Connection* connection, const char* url, const char* method,
                      QByteArray body, bool tls)
{
    HttpRequest request;
    request.method = method;
    request.path = url;
    request.body = std::move(body);
    request.tls = tls;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &keep, &request);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &keep, &request);
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info && info->client_addr)
        request.peer = QHostAddress(info->client_addr);
    return request;
}

HttpReply plain(unsigned status)
{
    return HttpReply{status, {}, {}, {}, {}};
}

// Called for each part of a request: its headers, its body in pieces, then the end, when it is
// answered. A body past the limit is read and dropped, and answered 413.
MHD_Result answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char* data, size_t* size, void** context)
{
    auto* shared = static_cast<HttpServer::Shared*>(cls);
    auto* call = static_cast<Call*>(*context);
    if (!call) {
        *context = new Call;
        return MHD_YES;
    }
    if (*size > 0) {
        if (call->body.size() + qsizetype(*size) > HttpServer::BodyLimit)
            call->tooLarge = true;
        else
            call->body.append(data, qsizetype(*size));
        *size = 0;
        return MHD_YES;
    }
    if (call->reply)
        return queue(connection, *call->reply);
    if (call->waiting)
        return MHD_YES;
    if (call->tooLarge)
        return queue(connection, plain(MHD_HTTP_CONTENT_TOO_LARGE));

    std::unique_lock lock(shared->mutex);
    const std::shared_ptr<const HttpHandler> handler = shared->handler;
    const bool tls = shared->tls;
    lock.unlock();
    const HttpRequest request = requestOf(connection, url, method, std::move(call->body), tls);
    std::optional<HttpReply> reply = handler && *handler ? (*handler)(request) : std::nullopt;
    if (!reply)
        return queue(connection, plain(MHD_HTTP_NOT_FOUND));
    if (!reply->onOwnerThread)
        return queue(connection, *reply);

    // The owner answers later; the server thread goes on with other connections meanwhile.
    lock.lock();
    call->waiting = true;
    shared->waiting.emplace(call, connection);
    MHD_suspend_connection(connection);
    QMetaObject::invokeMethod(
        shared->owner,
        [shared, call, work = std::move(reply->onOwnerThread)] {
            {
                // Not done for a client the stopped daemon has answered already.
                const std::lock_guard guard(shared->mutex);
                if (!shared->waiting.contains(call))
                    return;
            }
            HttpReply done = work();
            const std::lock_guard guard(shared->mutex);
            const auto found = shared->waiting.find(call);
            if (found == shared->waiting.end())
                return; // the daemon stopped and answered it
            call->reply = std::move(done);
            MHD_resume_connection(found->second);
            shared->waiting.erase(found);
        },
        Qt::QueuedConnection);
    return MHD_YES;
}

void completed(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode)
{
    delete static_cast<Call*>(*context);
    *context = nullptr;
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

void HttpServer::StopDaemon::operator()(MHD_Daemon* daemon) const
{
    MHD_stop_daemon(daemon); // joins its thread and closes its sockets
}

bool HttpServer::parseEndpoint(const QString& text, Endpoint* endpoint)
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
    if (host.isEmpty() || !ok || port < 1 || port > 65535)
        return false;
    *endpoint = Endpoint{host, quint16(port)};
    return true;
}

HttpServer::HttpServer(const QString& subject, quint16 examplePort, QObject* parent)
    : QObject(parent)
    , m_subject(subject)
    , m_examplePort(examplePort)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::setHandler(HttpHandler handler)
{
    auto kept = std::make_shared<const HttpHandler>(std::move(handler));
    const std::lock_guard lock(m_shared->mutex);
    m_shared->handler = std::move(kept);
}

void HttpServer::stop()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(std::exchange(m_lookupId, -1));
    {
        // libmicrohttpd will not stop with connections suspended: they are answered here.
        const std::lock_guard lock(m_shared->mutex);
        for (const auto& [call, connection] : m_shared->waiting) {
            call->reply = plain(MHD_HTTP_SERVICE_UNAVAILABLE);
            MHD_resume_connection(connection);
        }
        m_shared->waiting.clear();
    }
    m_daemon.reset();
    m_port = 0;
}

void HttpServer::listenOn(const QString& text, const Tls& tls)
{
    if (text.trimmed() == m_text && tls == m_tls)
        return;
    m_text = text.trimmed();
    m_tls = tls;
    stop();
    if (m_text.isEmpty())
        return;
    Endpoint endpoint;
    if (!parseEndpoint(m_text, &endpoint)) {
        emit problem(tr("%1 address \"%2\" is not host:port (say 127.0.0.1:%3) - not served")
                         .arg(m_subject, m_text)
                         .arg(m_examplePort));
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
                emit problem(tr("%1 host \"%2\" cannot be resolved: %3 - not served")
                                 .arg(m_subject, endpoint.host, info.errorString()));
            else
                listenAt(chosen, endpoint.port);
        });
}

void HttpServer::listenAt(const QHostAddress& address, quint16 port)
{
    QString why;
    const int fd = listeningSocket(address, port, &why);
    const quint16 bound = fd >= 0 ? boundPort(fd) : 0;
    struct stat socketStat {};
    if (fd >= 0 && ::fstat(fd, &socketStat) != 0)
        socketStat.st_ino = 0;
    const bool tls = !m_tls.certificate.isEmpty();
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->tls = tls;
    }
    const unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME |
                           (tls ? MHD_USE_TLS : 0) |
                           (address.protocol() == QAbstractSocket::IPv6Protocol ? MHD_USE_IPv6 : 0);
    // Without TLS the two PEM options are not given at all.
    const MHD_OptionItem tlsOptions[] = {
        {tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0,
         const_cast<char*>(m_tls.certificate.constData())},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(m_tls.key.constData())},
        {MHD_OPTION_END, 0, nullptr},
    };
    MHD_Daemon* daemon =
        fd < 0 ? nullptr
               : MHD_start_daemon(flags, 0, nullptr, nullptr, &answer, m_shared.get(),
                                  MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT,
                                  ConnectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                                  PerClientLimit, MHD_OPTION_CONNECTION_TIMEOUT, IdleSeconds,
                                  MHD_OPTION_CONNECTION_MEMORY_LIMIT, MemoryPerConnection,
                                  MHD_OPTION_NOTIFY_COMPLETED, &completed, nullptr,
                                  MHD_OPTION_ARRAY, tlsOptions, MHD_OPTION_END);
    if (fd >= 0 && !daemon) {
        why = tls ? tr("the certificate or its key was refused")
                  : tr("the HTTP server did not start");
        if (stillOpen(fd, socketStat.st_ino))
            ::close(fd);
    }
    if (!daemon) {
        emit problem(tr("Cannot serve %1 on %2 port %3: %4")
                         .arg(m_subject.toLower(), address.toString())
                         .arg(port)
                         .arg(why));
        return;
    }
    m_daemon.reset(daemon);
    m_port = bound;
}
