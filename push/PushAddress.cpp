#include "push/PushAddress.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <algorithm>

namespace {

// Shorter segments are words of an API ("hooks", "services"), not secrets; a token is longer.
constexpr qsizetype MinSecretSegment = 8;
const QString Hidden = QStringLiteral("***");

QUrl parsed(const QByteArray& url)
{
    const QByteArray trimmed = url.trimmed();
    return QUrl::fromEncoded(trimmed.contains("://") ? trimmed : "http://" + trimmed);
}

void addBoth(QStringList& secrets, const QString& text)
{
    secrets << text << QUrl::fromPercentEncoding(text.toUtf8());
}

} // namespace

namespace PushAddress {

QString shown(const QByteArray& url)
{
    const QUrl u = parsed(url);
    if (!u.isValid() || u.host().isEmpty())
        return {};
    return u
        .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                  QUrl::RemoveFragment)
        .toString(QUrl::FullyEncoded);
}

QString withoutSecrets(const QString& text, const QByteArray& url)
{
    const QByteArray trimmed = url.trimmed();
    if (trimmed.isEmpty())
        return text;
    QStringList secrets;
    addBoth(secrets, QString::fromUtf8(trimmed));
    const QUrl u = parsed(trimmed);
    const QString host = u.host(QUrl::FullyEncoded);
    // Everything after the host, however the URL is split.
    const qsizetype hostAt = host.isEmpty() ? -1 : QString::fromUtf8(trimmed).indexOf(host);
    if (hostAt >= 0) {
        const QString rest = QString::fromUtf8(trimmed).mid(hostAt + host.size());
        const qsizetype pathAt = rest.indexOf(QRegularExpression(QStringLiteral("[/?#]")));
        if (pathAt >= 0 && rest.size() - pathAt > 1)
            addBoth(secrets, rest.mid(pathAt));
    }
    const QString user = u.userInfo(QUrl::FullyEncoded);
    if (!user.isEmpty())
        addBoth(secrets, user);
    const QString pathAndQuery = u.toString(QUrl::FullyEncoded | QUrl::RemoveScheme |
                                            QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (pathAndQuery.size() > 1)
        addBoth(secrets, pathAndQuery);
    for (const QString& piece :
         pathAndQuery.split(QRegularExpression(QStringLiteral("[/?&=]")), Qt::SkipEmptyParts)) {
        if (piece.size() >= MinSecretSegment) {
            addBoth(secrets, piece);
            // The Bot API's "bot<token>": the token may be quoted alone.
            if (piece.startsWith(QLatin1String("bot")))
                addBoth(secrets, piece.mid(3));
        }
    }
    secrets.removeAll(QString());
    secrets.removeDuplicates();
    // The longest first, so that the whole URL goes before its parts.
    std::sort(secrets.begin(), secrets.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    QString result = text;
    for (const QString& secret : std::as_const(secrets))
        result.replace(secret, Hidden);
    return result;
}

} // namespace PushAddress
