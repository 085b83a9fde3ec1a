#include "alert/SmtpTransfer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

struct Context {
    const QByteArray* message = nullptr;
    qsizetype sent = 0;
    const std::atomic<bool>* abort = nullptr;
    QByteArray lastErrorReply;
};

size_t readMessage(char* buffer, size_t size, size_t count, void* userData)
{
    auto* context = static_cast<Context*>(userData);
    const size_t n = std::min(size * count, size_t(context->message->size() - context->sent));
    std::memcpy(buffer, context->message->constData() + context->sent, n);
    context->sent += qsizetype(n);
    return n;
}

bool isFailureReply(const QByteArray& line)
{
    return line.size() >= 3 && (line[0] == '4' || line[0] == '5') && std::isdigit(uchar(line[1])) &&
           std::isdigit(uchar(line[2]));
}

// libcurl reports only the reply code; the server's reply line says what was wrong. A later
// positive reply means the session got past it, except QUIT's 221 after the failure.
int watchReplies(CURL*, curl_infotype type, char* data, size_t size, void* userData)
{
    if (type != CURLINFO_HEADER_IN)
        return 0;
    auto* context = static_cast<Context*>(userData);
    for (QByteArray line : QByteArray(data, qsizetype(size)).split('\n')) {
        line = line.trimmed();
        if (isFailureReply(line))
            context->lastErrorReply = line;
        else if (!line.isEmpty() && !line.startsWith("221"))
            context->lastErrorReply.clear();
    }
    return 0;
}

int checkAbort(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Context*>(userData)->abort->load() ? 1 : 0;
}

QString describe(CURLcode code, const char* errorBuffer, const QByteArray& reply)
{
    const QString summary = QString::fromUtf8(curl_easy_strerror(code));
    const QString detail = QString::fromUtf8(errorBuffer).trimmed();
    if (reply.isEmpty()) {
        if (detail.isEmpty() || detail.contains(summary))
            return detail.isEmpty() ? summary : detail;
        return detail + QStringLiteral(" (") + summary + u')';
    }
    // "RCPT failed: 550" becomes "RCPT failed: 550 5.1.1 <x@y>: Recipient address rejected".
    const QString line = QString::fromUtf8(reply);
    const QString text = detail.isEmpty() ? summary : detail;
    if (text.endsWith(line.left(3)))
        return text.chopped(3) + line;
    return text + QStringLiteral(" (server: ") + line + u')';
}

} // namespace

void initSmtpTransfers()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool runSmtpTransfer(const SmtpJob& job, const std::atomic<bool>& abort, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    try {
        initSmtpTransfers();
        const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                       curl_easy_cleanup);
        if (!curl)
            return fail(QStringLiteral("libcurl could not start a transfer"));
        std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> recipients(nullptr,
                                                                               curl_slist_free_all);
        for (const QByteArray& rcpt : job.rcptTo) {
            curl_slist* grown = curl_slist_append(recipients.get(), ('<' + rcpt + '>').constData());
            if (!grown)
                return fail(QStringLiteral("Out of memory"));
            recipients.release();
            recipients.reset(grown);
        }

        Context context;
        context.message = &job.message;
        context.abort = &abort;
        char errorBuffer[CURL_ERROR_SIZE] = {};
        CURL* h = curl.get();
        curl_easy_setopt(h, CURLOPT_URL, job.url.constData());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp");
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, job.connectTimeoutMs);
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, job.totalTimeoutMs);
        curl_easy_setopt(h, CURLOPT_MAIL_FROM, ('<' + job.mailFrom + '>').constData());
        curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(job.message.size()));
        curl_easy_setopt(h, CURLOPT_READFUNCTION, readMessage);
        curl_easy_setopt(h, CURLOPT_READDATA, &context);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
        curl_easy_setopt(h, CURLOPT_VERBOSE, 1L); // needed for the debug callback to run
        curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, watchReplies);
        curl_easy_setopt(h, CURLOPT_DEBUGDATA, &context);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkAbort);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &context);

        const CURLcode code = curl_easy_perform(h);
        if (code == CURLE_OK)
            return true;
        return fail(describe(code, errorBuffer, context.lastErrorReply));
    } catch (const std::exception& e) {
        // Only allocation can throw here; it must not cross the worker thread.
        return fail(QString::fromUtf8(e.what()));
    }
}
