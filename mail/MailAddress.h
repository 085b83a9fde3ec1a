#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Recipient and sender addresses as typed: lists split into entries, each checked against SMTP's
// mailbox syntax (RFC 5321 with RFC 6531's UTF-8), and the forms they take in the envelope and in
// a header field.
namespace MailAddress {

struct Mailbox {
    QString displayName; // unquoted, as typed; may be empty or Japanese
    QString localPart;   // as typed: a dot-string, or a quoted string with its quotes
    QString domain;      // as typed: a host name (maybe Unicode) or "[1.2.3.4]" / "[IPv6:...]"
};

// The entries of a recipient text, split at ',' and ';' outside double quotes, <...> and
// (comments); each trimmed, blank ones dropped.
QStringList splitList(const QString& text);

// One entry: "Name <local@domain>", "\"Doe, John\" <local@domain>", "<local@domain>" or
// "local@domain". On failure returns false and sets *error (when given) to a sentence that names
// the entry, e.g. Invalid address "ZARVIK zarvik@example.jp": ...
bool parse(const QString& entry, Mailbox* out, QString* error = nullptr);

// The domain as it travels: ASCII names and address literals as typed, Unicode names in their
// IDNA (xn--) form. Empty when a Unicode name has no such form.
QString asciiDomain(const QString& domain);

// What goes between < and > of MAIL FROM and RCPT TO, as UTF-8: the local part as typed and the
// ASCII domain. For a mailbox parse() accepted.
QByteArray envelope(const Mailbox& box);

// True when the local part is not ASCII, so the server must offer SMTPUTF8.
bool needsSmtpUtf8(const Mailbox& box);

// The entry for a header field, "Name <local@ascii-domain>" or "local@ascii-domain". The name is
// quoted when RFC 5322 needs it but not encoded; a non-ASCII one is left to HeaderEncoding.
QString headerText(const Mailbox& box);

// True for a name fit for EHLO: an ASCII host name (letters, digits and inner hyphens in
// dot-separated labels of at most 63, at most 253 in all) or an address literal.
bool isHostName(const QString& name);

} // namespace MailAddress
