#pragma once

#include <QByteArray>
#include <QString>

// What of a push channel's URL may be shown to a person: its scheme, host and port. The path of
// a webhook and of the Telegram Bot API carries its secret (the hook's token, the bot's token),
// so no text the user or the log sees ever holds it.
namespace PushAddress {

// "https://api.telegram.org", "http://127.0.0.1:8080"; empty when the URL names no host. A URL
// without a scheme is read as libcurl reads it, as http.
QString shown(const QByteArray& url);

// `text` with every part of `url` beyond its host replaced by "***": the whole URL, its path and
// query, its user information and each long path segment (a token alone), as written and
// percent-decoded. A library's or a server's error text may quote any of them.
QString withoutSecrets(const QString& text, const QByteArray& url);

} // namespace PushAddress
