#include "push/PushTransfer.h"

#include "net/TlsSetup.h"
#include "net/Transfer.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <curl/curl.h>
#include <limits>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Context {
    CURL* curl = nullptr;
    QByteArray reply;
    bool cutShort = false;
    bool delivered = false;
    QByteArray retryAfter; // of the answer whose headers came last
};

// A 2xx is the server's word that it took the push: the rest of its answer tells nothing more,
// so it is not waited for, and a connection that then stalls or breaks cannot undo the 2xx.
size_t noteHeader(char* data, size_t size, size_t count, void* userData)
{
    auto* context = static_cast<Context*>(userData);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/")) {
        context->retryAfter.clear();
    } else if (line.isEmpty()) {
        long status = 0;
        curl_easy_getinfo(context->curl, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 200 && status < 300) {
            context->delivered = true;
            return 0;
        }
    } else if (line.size() > 12 && line.first(12).toLower() == "retry-after:") {
        context->retryAfter = line.mid(12).trimmed();
    }
    return size * count;
}

size_t keepReply(char* data, size_t size, size_t count, void* userData)
{
    auto* context = static_cast<Context*>(userData);
    const qsizetype n = qsizetype(size * count);
    const qsizetype room = PushReplyLimit - context->reply.size();
    context->reply.append(data, std::min(n, room));
    if (n > room) {
        // The status is in; the rest is not worth waiting for.
        context->cutShort = true;
        return 0;
    }
    return size_t(n);
}

bool mayPassCode(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return true;
    default:
        return false;
    }
}

// The start of what the server said, on one line: enough to tell why. The Bot API answers
// {"ok":false,"error_code":..,"description":".."}: its description says it.
QString replyText(const QByteArray& reply)
{
    const QJsonValue description =
        QJsonDocument::fromJson(reply).object().value(QLatin1String("description"));
    QString text = description.isString() ? description.toString().left(200)
                                          : QString::fromUtf8(reply.left(200));
    text = text.simplified();
    return text.isEmpty() ? QString() : QStringLiteral(": ") + text;
}

// The Bot API's 429 says how long to wait in its body, {"parameters":{"retry_after":N}}, and not
// always in a Retry-After field.
int retryAfterInReply(const QByteArray& reply)
{
    const QJsonValue seconds = QJsonDocument::fromJson(reply)
                                   .object()
                                   .value(QLatin1String("parameters"))
                                   .toObject()
                                   .value(QLatin1String("retry_after"));
    return seconds.isDouble() && seconds.toDouble() >= 0
               ? int(std::min(seconds.toDouble(), double(std::numeric_limits<int>::max())))
               : -1;
}

} // namespace

int retryAfterSeconds(const QByteArray& value, const QDateTime& now)
{
    bool number = false;
    const qlonglong seconds = value.toLongLong(&number);
    if (number)
        return seconds < 0 ? -1
                           : int(std::min<qlonglong>(seconds, std::numeric_limits<int>::max()));
    // An HTTP date is the RFC 822 form with "GMT", which Qt reads only as an offset.
    QString text = QString::fromLatin1(value);
    if (text.endsWith(QLatin1String(" GMT")))
        text.replace(text.size() - 3, 3, QStringLiteral("+0000"));
    const QDateTime at = QDateTime::fromString(text, Qt::RFC2822Date);
    if (!at.isValid())
        return -1;
    return int(std::clamp<qint64>(now.secsTo(at), 0, std::numeric_limits<int>::max()));
}

PushOutcome runPush(const PushRequest& request, TransferAbort& abort)
{
    PushOutcome outcome;
    try {
        Transfer::init();
        const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                       curl_easy_cleanup);
        std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr,
                                                                            curl_slist_free_all);
        // 100-continue would cost a round trip, or a second with a server that ignores it.
        QList<QByteArray> lines = request.headers;
        lines.append("Expect:");
        for (const QByteArray& line : std::as_const(lines)) {
            curl_slist* grown = curl_slist_append(headers.get(), line.constData());
            if (!grown) {
                outcome.error = QStringLiteral("Out of memory");
                return outcome;
            }
            headers.release();
            headers.reset(grown);
        }
        if (!curl) {
            outcome.error = QStringLiteral("libcurl could not start a transfer");
            return outcome;
        }
        Context context;
        context.curl = curl.get();
        char errorBuffer[CURL_ERROR_SIZE] = {};
        CURL* h = curl.get();
        curl_easy_setopt(h, CURLOPT_URL, request.url.constData());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, request.connectTimeoutMs);
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, request.totalTimeoutMs);
        TlsSetup::apply(h, true);
        curl_easy_setopt(h, CURLOPT_USERAGENT, "ZARVIK-Mail");
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.constData());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, keepReply);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &context);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, noteHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &context);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
        abort.watch(h);

        const CURLcode code = curl_easy_perform(h);
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        outcome.status = int(status);
        // Whatever ended the transfer after it, a 2xx status line means the server has it.
        if (context.delivered || (status >= 200 && status < 300)) {
            outcome.delivered = true;
            return outcome;
        }
        if (abort.requested()) {
            outcome.error = QStringLiteral("Cancelled");
            return outcome;
        }
        if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && context.cutShort)) {
            outcome.mayPass = status == 429 || (status >= 500 && status < 600);
            if (status == 429 || status == 503)
                outcome.retryAfterS =
                    context.retryAfter.isEmpty()
                        ? retryAfterInReply(context.reply)
                        : retryAfterSeconds(context.retryAfter, QDateTime::currentDateTimeUtc());
            outcome.error = QStringLiteral("HTTP %1%2").arg(status).arg(replyText(context.reply));
            return outcome;
        }
        outcome.mayPass = mayPassCode(code);
        if (code == CURLE_OPERATION_TIMEDOUT)
            outcome.error = QStringLiteral("Timeout: the server did not answer within %1 s")
                                .arg(request.totalTimeoutMs / 1000.0);
        else
            outcome.error = errorBuffer[0] ? QString::fromUtf8(errorBuffer).trimmed()
                                           : QString::fromUtf8(curl_easy_strerror(code));
    } catch (const std::exception& e) {
        // Only allocation can throw here; it must not cross the worker thread.
        outcome = PushOutcome();
        outcome.error = QString::fromUtf8(e.what());
    }
    return outcome;
}
