#include "support/NotifySocket.h"

#include "support/EventWait.h"

#include <QFile>
#include <QSocketNotifier>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

NotifySocket::NotifySocket()
    : m_path(m_dir.filePath(QStringLiteral("notify")))
{
    const QByteArray name = QFile::encodeName(m_path);
    sockaddr_un address{};
    if (!m_dir.isValid() || size_t(name.size()) >= sizeof address.sun_path)
        return;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &NotifySocket::read);
}

NotifySocket::~NotifySocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void NotifySocket::read()
{
    char buffer[4096];
    ssize_t size;
    while ((size = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0) {
        const QString datagram = QString::fromUtf8(buffer, qsizetype(size));
        m_messages << datagram.split(u'\n', Qt::SkipEmptyParts);
    }
}

int NotifySocket::indexOf(const QString& message, int from) const
{
    for (int i = from; i < m_messages.size(); ++i) {
        if (message.endsWith(u'=') ? m_messages[i].startsWith(message) : m_messages[i] == message)
            return i;
    }
    return -1;
}

bool NotifySocket::waitFor(const QString& message, int from, int timeoutMs)
{
    return EventWait::until([&] { return indexOf(message, from) >= 0; }, timeoutMs);
}
