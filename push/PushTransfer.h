#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QDateTime;
class TransferAbort;

// One HTTP POST with libcurl, free of Qt's event machinery so it can run on a worker thread.
struct PushRequest {
    // Phones' push services answer within seconds; an alert must not wait on one for minutes.
    static constexpr int DefaultConnectTimeoutMs = 10000;
    static constexpr int DefaultTotalTimeoutMs = 30000;

    QByteArray url;
    QList<QByteArray> headers; // "Name: value", ASCII
    QByteArray body;
    long connectTimeoutMs = DefaultConnectTimeoutMs;
    long totalTimeoutMs = DefaultTotalTimeoutMs;
};

struct PushOutcome {
    bool delivered = false; // a 2xx status
    bool mayPass = false;   // no connection, a time-out, 429 or 5xx: worth sending again later
    int status = 0;         // the HTTP status, 0 when none came
    // How long a 429 or 503 asked to wait, in Retry-After or else as the Bot API's retry_after;
    // -1: it did not say.
    int retryAfterS = -1;
    QString error; // why not, for the user
};

// No more of a reply is read: a server that goes on talking costs neither memory nor time.
constexpr qsizetype PushReplyLimit = 4096;

// Seconds a Retry-After value asks for, whether written as seconds or as an HTTP date (from
// `now`); -1 when it is neither.
int retryAfterSeconds(const QByteArray& value, const QDateTime& now);

// Posts `request` over HTTP or HTTPS (certificates verified against the system's store), no
// redirect followed, no proxy. Ends within totalTimeoutMs, or at once when `abort` asks.
// Never throws.
PushOutcome runPush(const PushRequest& request, TransferAbort& abort);
