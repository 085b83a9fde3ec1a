#include "mail/Outbox.h"

#include "core/AtomicFile.h"
#include "core/KeptFolder.h"
#include "mail/MailAddress.h"

#include <algorithm>

namespace {

// First line of every kept file, so that a stray file in the folder is never sent.
const QByteArray Magic = "ZARVIK-Outbox 1";
// A kept mail is a few kB; anything far larger is not one of ours.
constexpr qint64 MaxFileSize = 16 * 1024 * 1024;
// An envelope address as this program writes it: what the To and From fields accept, in the
// form they give it, with nothing that could end the command or add a parameter to it.
bool isEnvelopeAddress(const QByteArray& address)
{
    if (address.isEmpty())
        return false;
    for (const char c : address) {
        if (uchar(c) < 0x20 || uchar(c) == 0x7f || c == '<' || c == '>')
            return false;
    }
    const QString text = QString::fromUtf8(address);
    MailAddress::Mailbox box;
    return text.toUtf8() == address && MailAddress::parse(text, &box) &&
           MailAddress::envelope(box) == address;
}

// The lines before the blank one, each without its CRLF; a bare CR or LF stays in its line.
QList<QByteArray> headLines(const QByteArray& head)
{
    QList<QByteArray> lines;
    qsizetype from = 0;
    for (qsizetype at; (at = head.indexOf("\r\n", from)) >= 0; from = at + 2)
        lines.append(head.mid(from, at - from));
    lines.append(head.mid(from));
    return lines;
}

} // namespace

Outbox::Outbox(const QString& folder)
    : m_folder(folder)
{
}

QString Outbox::folderFor(const QString& settingsPath)
{
    return KeptFolder::beside(settingsPath, QStringLiteral(".outbox"));
}

QByteArray Outbox::encode(const ComposedMail& mail)
{
    QByteArray bytes = Magic + "\r\nMAIL FROM:<" + mail.mailFrom + ">\r\n";
    for (const QByteArray& rcpt : mail.rcptTo)
        bytes += "RCPT TO:<" + rcpt + ">\r\n";
    return bytes + "\r\n" + mail.message;
}

bool Outbox::decode(const QByteArray& bytes, ComposedMail* mail)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QList<QByteArray> lines = headLines(bytes.left(end));
    if (lines.size() < 3 || lines[0] != Magic)
        return false;
    ComposedMail result;
    const auto address = [](const QByteArray& line, const char* verb, QByteArray* out) {
        const QByteArray head = QByteArray(verb) + ":<";
        if (!line.startsWith(head) || !line.endsWith('>'))
            return false;
        *out = line.mid(head.size(), line.size() - head.size() - 1);
        return isEnvelopeAddress(*out);
    };
    if (!address(lines[1], "MAIL FROM", &result.mailFrom))
        return false;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        QByteArray rcpt;
        if (!address(lines[i], "RCPT TO", &rcpt) || result.rcptTo.contains(rcpt))
            return false;
        result.rcptTo.append(rcpt);
    }
    result.message = bytes.mid(end + 4);
    *mail = result;
    return true;
}

QStringList Outbox::pending() const
{
    return KeptFolder::list(m_folder, Suffix);
}

bool Outbox::read(const QString& path, ComposedMail* mail, QString* error)
{
    // Never a link (it could name any file) nor a FIFO or device (reading could block).
    if (const QString why =
            AtomicFile::notRegularFile(path, MaxFileSize, AtomicFile::Links::Refuse);
        !why.isEmpty()) {
        *error = why;
        return false;
    }
    const AtomicFile::Read file = AtomicFile::read(path, MaxFileSize, AtomicFile::Links::Refuse);
    if (file.missing || !file.error.isEmpty()) {
        *error = file.missing ? QStringLiteral("the file is gone") : file.error;
        return false;
    }
    if (file.bytes.size() > MaxFileSize || !decode(file.bytes, mail)) {
        *error = QStringLiteral("not a kept mail");
        return false;
    }
    return true;
}
