#pragma once

#include "http/HttpMessage.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <mutex>

class Clock;

// Who may read the status page and act on it, asked on the server's thread: the login in the
// Authorization header (HTTP Basic), the token the page carries, the Host and Origin a request
// names, and how often an address may guess the password.
class WebGate {
public:
    struct Config {
        QString user;
        QString passwordHash; // yescrypt; empty: no login set
        QString host;         // as the address names it
        quint16 port = 0;
        bool tls = false;
        bool loopback = false; // reading needs no login
    };

    explicit WebGate(const Clock& clock);

    void configure(const Config& config);
    bool loginSet() const;
    bool loopback() const;
    // This run's token; the page carries it to a person logged in.
    QByteArray token() const { return m_token; }

    enum class Login {
        None, // no Authorization header
        Good,
        Wrong,    // wrong user or password, or no login set
        SlowDown, // too many wrong ones from this address: not even checked
    };
    // The login the request carries. A wrong one counts against its address; past a few, the
    // address waits longer for each (`retryAfterSeconds`).
    Login login(const HttpRequest& request, int* retryAfterSeconds = nullptr);
    // A name that this server is: its address, "localhost" on loopback, the machine's name, or
    // any address literal, with the port served on. A name someone else's DNS points here is
    // none of these.
    bool ownHost(const HttpRequest& request) const;
    // Sent by browsers: must be this server itself. Scripts send none.
    bool ownOrigin(const HttpRequest& request) const;
    bool tokenMatches(const HttpRequest& request) const;

    // Wrong tries an address may make before it must wait, and the longest wait.
    static constexpr int FreeTries = 5;
    static constexpr int LongestWaitSeconds = 300;

private:
    struct Tries {
        int wrong = 0;
        qint64 waitUntilMs = 0; // steady
        qint64 lastMs = 0;
    };
    bool hostIsOwn(const QByteArray& hostAndPort, bool tls) const;

    const Clock& m_clock;
    const QByteArray m_token;
    mutable std::mutex m_mutex;
    Config m_config;
    QByteArray m_goodDigest; // of the last Authorization header found good
    QHash<QString, Tries> m_tries;
};
