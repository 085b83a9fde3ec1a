#include "net/Transfer.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Transfer {

void init()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace Transfer

void TransferAbort::request(Reason reason)
{
    Reason none = Reason::None;
    m_reason.compare_exchange_strong(none, reason);
    const std::lock_guard lock(m_mutex);
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
}

void TransferAbort::closeConnection()
{
    const std::lock_guard lock(m_mutex);
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
}

void TransferAbort::attach(int socket)
{
    const std::lock_guard lock(m_mutex);
    m_socket = socket;
    if (requested())
        ::shutdown(socket, SHUT_RDWR);
}

void TransferAbort::detach(int socket)
{
    const std::lock_guard lock(m_mutex);
    if (m_socket == socket)
        m_socket = -1;
}

namespace {

int checkAbort(void* abort, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<TransferAbort*>(abort)->requested() ? 1 : 0;
}

curl_socket_t openSocket(void* abort, curlsocktype, curl_sockaddr* address)
{
    const curl_socket_t s = ::socket(address->family, address->socktype, address->protocol);
    if (s != CURL_SOCKET_BAD)
        static_cast<TransferAbort*>(abort)->attach(s);
    return s;
}

int closeSocket(void* abort, curl_socket_t s)
{
    static_cast<TransferAbort*>(abort)->detach(s);
    return ::close(s);
}

} // namespace

void TransferAbort::watch(void* handle)
{
    CURL* h = handle;
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkAbort);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, openSocket);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, this);
}
