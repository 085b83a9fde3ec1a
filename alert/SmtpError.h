#pragma once

#include <QString>
#include <stdexcept>

// A mail that could not be sent: the message says why in libcurl's words, with the server's own
// reply line where there was one.
class SmtpError : public std::runtime_error {
public:
    explicit SmtpError(const QString& message)
        : std::runtime_error(message.toStdString())
    {
    }

    QString message() const { return QString::fromStdString(what()); }
};
