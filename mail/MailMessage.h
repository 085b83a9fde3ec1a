#pragma once

#include "mail/MailHeaders.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// One plain-text mail in Japanese, composed as RFC 5322 text in 7-bit bytes: ISO-2022-JP body,
// RFC 2047 encoded Subject and display names.
class MailMessage {
public:
    static constexpr const char* kContentType = "text/plain; charset=\"iso-2022-jp\"";

    void setFrom(const QString& from) { m_from = from; }
    // Each item may itself list several recipients, apart by ',' or ';'.
    void setTo(const QStringList& to) { m_to = to; }
    void setSubject(const QString& subject) { m_subject = subject; }
    // Lines may end in CR LF, CR or LF.
    void setBody(const QString& body) { m_body = body; }

    const QString& from() const { return m_from; }
    const QStringList& to() const { return m_to; }
    const QString& subject() const { return m_subject; }
    const QString& body() const { return m_body; }

    // The fields every mail carries, in this order: Date, From, To, Subject, Message-ID,
    // MIME-Version, Content-Type, Content-Transfer-Encoding. Values are plain text; encoding
    // happens in compose().
    MailHeaders standardHeaders(const QDateTime& now = QDateTime::currentDateTime()) const;

    // The whole message as CRLF text: the standard fields with `headers` laid over them by name
    // (replacing or adding), each field once, a blank line, then the body.
    QByteArray compose(const MailHeaders& headers = {}) const;

    // The body as ISO-2022-JP lines, each back in ASCII before its CR LF and at most 998 bytes.
    static QByteArray encodeBody(const QString& body);

    // "Tue, 05 Mar 2024 14:03:09 +0900"
    static QString rfc5322Date(const QDateTime& time);

private:
    QString messageId(const QDateTime& now) const;

    QString m_from;
    QStringList m_to;
    QString m_subject;
    QString m_body;
};
