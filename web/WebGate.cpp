#include "web/WebGate.h"

#include "core/Clock.h"
#include "web/PasswordHash.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QUrl>
#include <algorithm>

namespace {

// Addresses remembered at most; the oldest is forgotten first.
constexpr qsizetype TriesKept = 1024;

QByteArray newToken()
{
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

// Compares in the same time wherever the two differ.
bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

QByteArray digest(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

} // namespace

WebGate::WebGate(const Clock& clock)
    : m_clock(clock)
    , m_token(newToken())
{
}

void WebGate::configure(const Config& config)
{
    const std::lock_guard lock(m_mutex);
    if (config.user != m_config.user || config.passwordHash != m_config.passwordHash)
        m_goodDigest.clear();
    m_config = config;
}

bool WebGate::loginSet() const
{
    const std::lock_guard lock(m_mutex);
    return !m_config.user.isEmpty() && !m_config.passwordHash.isEmpty();
}

bool WebGate::loopback() const
{
    const std::lock_guard lock(m_mutex);
    return m_config.loopback;
}

WebGate::Login WebGate::login(const HttpRequest& request, int* retryAfterSeconds)
{
    const QByteArray header = request.header("authorization");
    if (header.isEmpty())
        return Login::None;
    const QString peer = request.peer.toString();
    const qint64 now = m_clock.steadyMs();
    std::unique_lock lock(m_mutex);
    const Config config = m_config;
    const Tries tries = m_tries.value(peer);
    if (tries.waitUntilMs > now) {
        if (retryAfterSeconds)
            *retryAfterSeconds = int((tries.waitUntilMs - now + 999) / 1000);
        return Login::SlowDown;
    }
    const QByteArray headerDigest = digest(header);
    if (!m_goodDigest.isEmpty() && sameBytes(headerDigest, m_goodDigest))
        return Login::Good;
    lock.unlock();

    // The slow hash runs outside the lock.
    bool good = false;
    if (header.startsWith("Basic ") && !config.user.isEmpty()) {
        const QByteArray pair = QByteArray::fromBase64(header.mid(6).trimmed());
        const qsizetype colon = pair.indexOf(':');
        const QByteArray user = pair.left(std::max<qsizetype>(colon, 0));
        const bool userGood = colon > 0 && sameBytes(digest(user), digest(config.user.toUtf8()));
        const bool passwordGood =
            colon > 0 &&
            PasswordHash::verify(QString::fromUtf8(pair.mid(colon + 1)), config.passwordHash);
        good = userGood && passwordGood;
    }

    lock.lock();
    if (good) {
        m_tries.remove(peer);
        if (config.user == m_config.user && config.passwordHash == m_config.passwordHash)
            m_goodDigest = headerDigest;
        return Login::Good;
    }
    if (!m_tries.contains(peer) && m_tries.size() >= TriesKept) {
        const auto oldest =
            std::min_element(m_tries.cbegin(), m_tries.cend(),
                             [](const Tries& a, const Tries& b) { return a.lastMs < b.lastMs; });
        m_tries.erase(oldest);
    }
    Tries& kept = m_tries[peer];
    ++kept.wrong;
    kept.lastMs = now;
    if (kept.wrong >= FreeTries) {
        const int seconds = std::min(LongestWaitSeconds, 1 << std::min(kept.wrong - FreeTries, 9));
        kept.waitUntilMs = now + seconds * 1000LL;
        if (retryAfterSeconds)
            *retryAfterSeconds = seconds;
    }
    return Login::Wrong;
}

bool WebGate::hostIsOwn(const QByteArray& hostAndPort, bool tls) const
{
    // "name", "name:port", "[v6]:port"
    const QUrl url(QStringLiteral("http://") + QString::fromLatin1(hostAndPort) + u'/');
    if (!url.isValid() || hostAndPort.isEmpty() || !url.userInfo().isEmpty() ||
        url.path() != QLatin1String("/"))
        return false;
    const int port = url.port(tls ? 443 : 80);
    const QString host = url.host().toLower();
    const std::lock_guard lock(m_mutex);
    if (port != m_config.port)
        return false;
    QHostAddress literal;
    if (literal.setAddress(host))
        return true;
    const QString machine = QSysInfo::machineHostName().toLower();
    return host == m_config.host.toLower() ||
           (m_config.loopback && host == QLatin1String("localhost")) ||
           (!machine.isEmpty() && (host == machine || host == machine + QLatin1String(".local")));
}

bool WebGate::ownHost(const HttpRequest& request) const
{
    return hostIsOwn(request.header("host"), request.tls);
}

bool WebGate::ownOrigin(const HttpRequest& request) const
{
    const QByteArray origin = request.header("origin");
    if (origin.isEmpty())
        return true;
    const QByteArray scheme = request.tls ? "https://" : "http://";
    // The page's own origin is the very host it was asked for.
    return origin.startsWith(scheme) && hostIsOwn(origin.mid(scheme.size()), request.tls) &&
           origin.mid(scheme.size()).toLower() == request.header("host").toLower();
}

bool WebGate::tokenMatches(const HttpRequest& request) const
{
    return sameBytes(request.header("x-zarvik-token"), m_token);
}
