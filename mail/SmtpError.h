#pragma once

#include <QString>
#include <stdexcept>

// A mail that could not be sent: the message says why in libcurl's words, with the server's own
// reply line where there was one.
class SmtpError : public std::runtime_error {
public:
    explicit SmtpError(const QString& message, bool mayPass = false)
        : std::runtime_error(message.toStdString())
        , m_mayPass(mayPass)
    {
    }

    QString message() const { return QString::fromStdString(what()); }
    // The same mail may go through later (no connection, a time-out, a 4xx reply).
    bool mayPass() const { return m_mayPass; }

private:
    bool m_mayPass;
};
