#include "mail/SmtpTransfer.h"

#include "net/TlsSetup.h"

#include <QStringList>
#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct Context {
    const QByteArray* message = nullptr;
    qsizetype sent = 0;
    TransferAbort* abort = nullptr;
    QByteArray lastErrorReply;
    QList<QByteArray> capabilities;
    bool inEhloReply = false;
    bool ehloAnswered = false; // the last EHLO got its 250 reply, so `capabilities` are real
    int ehloLines = 0;
    QByteArray rcptAwaiting; // the RCPT whose reply comes next
    QList<RefusedRecipient> refused;
};

size_t readMessage(char* buffer, size_t size, size_t count, void* userData)
{
    auto* context = static_cast<Context*>(userData);
    const size_t n = std::min(size * count, size_t(context->message->size() - context->sent));
    std::memcpy(buffer, context->message->constData() + context->sent, n);
    context->sent += qsizetype(n);
    return n;
}

size_t discard(char*, size_t size, size_t count, void*)
{
    return size * count;
}

bool isFailureReply(const QByteArray& line)
{
    return line.size() >= 3 && (line[0] == '4' || line[0] == '5') && std::isdigit(uchar(line[1])) &&
           std::isdigit(uchar(line[2]));
}

// libcurl reports only the reply code; the server's reply line says what was wrong. A later
// positive reply means the session got past it, except QUIT's 221 after the failure. The lines
// after EHLO's first are the server's capabilities.
int watchReplies(CURL*, curl_infotype type, char* data, size_t size, void* userData)
{
    auto* context = static_cast<Context*>(userData);
    const QByteArray text(data, qsizetype(size));
    if (type == CURLINFO_HEADER_OUT && text.startsWith("EHLO ")) {
        context->inEhloReply = true;
        context->ehloAnswered = false;
        context->ehloLines = 0;
        context->capabilities.clear();
        return 0;
    }
    // libcurl does not pipeline: each RCPT's reply comes before the next command.
    if (type == CURLINFO_HEADER_OUT) {
        context->rcptAwaiting.clear();
        if (text.startsWith("RCPT TO:<")) {
            const qsizetype end = text.indexOf('>');
            context->rcptAwaiting = text.mid(9, end < 0 ? -1 : end - 9);
        }
        return 0;
    }
    if (type != CURLINFO_HEADER_IN)
        return 0;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        const bool lastLine = line.size() <= 3 || line[3] != '-';
        if (!context->rcptAwaiting.isEmpty() && lastLine && !line.isEmpty()) {
            if (isFailureReply(line))
                context->refused.append({context->rcptAwaiting, line});
            context->rcptAwaiting.clear();
        }
        if (isFailureReply(line))
            context->lastErrorReply = line;
        else if (!line.isEmpty() && !line.startsWith("221"))
            context->lastErrorReply.clear();
        if (context->inEhloReply && line.startsWith("250")) {
            // The first line names the server; each further one is a capability.
            if (context->ehloLines++ > 0)
                context->capabilities.append(line.mid(4).toUpper());
            if (line.size() <= 3 || line[3] != '-') {
                context->inEhloReply = false;
                context->ehloAnswered = true;
            }
        }
    }
    return 0;
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

// Whether the same session may succeed later: the server or the path to it failed for now.
bool mayPassCode(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR: // a handshake that broke off
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return true;
    default:
        return false;
    }
}

// Ends the session when its time is up, whatever libcurl is waiting for at that moment.
class Deadline {
public:
    Deadline(TransferAbort& abort, long ms)
        : m_thread([this, &abort, ms] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_over; }))
                abort.request(TransferAbort::Reason::TimedOut);
        })
    {
    }
    ~Deadline()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_over = true;
        }
        m_done.notify_one();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_over = false;
    std::thread m_thread;
};

QByteArray url(const SmtpJob& job)
{
    const QByteArray host = job.host.contains(':') ? '[' + job.host + ']' : job.host;
    const char* scheme = job.tls == SmtpJob::Tls::Implicit ? "smtps://" : "smtp://";
    QByteArray name = job.ehloName;
    return scheme + host + ':' + QByteArray::number(job.port) + '/' + name.toPercentEncoding();
}

using CurlHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;

// The options every session shares: where to, how secured, how long, and how to stop it.
void setCommon(CURL* h, const SmtpJob& job, const QByteArray& address, Context& context,
               char* errorBuffer)
{
    curl_easy_setopt(h, CURLOPT_URL, address.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, job.connectTimeoutMs);
    // Our deadline ends the session; libcurl's own comes later, only as a backstop: when it
    // won the race, the session ended without shutting the connection, and cleaning up would
    // then wait for the reply to QUIT.
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, job.totalTimeoutMs + 1000L);
    switch (job.tls) {
    case SmtpJob::Tls::Off:
        break;
    case SmtpJob::Tls::Opportunistic:
        curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
        break;
    case SmtpJob::Tls::Required:
    case SmtpJob::Tls::Implicit:
        curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        break;
    }
    TlsSetup::apply(h, job.verifyPeer, job.caFile);
    if (!job.password.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, job.user.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, job.password.constData());
    }
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L); // needed for the debug callback to run
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, watchReplies);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &context);
    context.abort->watch(h);
}

// Runs one session with the options `setUp` adds to the common ones.
template <typename SetUp>
bool perform(const SmtpJob& job, TransferAbort& abort, Context& context, QString* error,
             bool* mayPass, SetUp setUp)
{
    const auto fail = [error, mayPass](const QString& why, bool passing = false) {
        if (error)
            *error = why;
        if (mayPass)
            *mayPass = passing;
        return false;
    };
    try {
        if (job.tls != SmtpJob::Tls::Off) {
            if (const QString problem = TlsSetup::caFileProblem(job.caFile); !problem.isEmpty())
                return fail(problem);
        }
        Transfer::init();
        const CurlHandle curl(curl_easy_init(), curl_easy_cleanup);
        if (!curl)
            return fail(QStringLiteral("libcurl could not start a transfer"));
        context.abort = &abort;
        char errorBuffer[CURL_ERROR_SIZE] = {};
        const QByteArray address = url(job);
        setCommon(curl.get(), job, address, context, errorBuffer);
        if (!setUp(curl.get()))
            return fail(QStringLiteral("Out of memory"));

        CURLcode code;
        {
            const Deadline deadline(abort, job.totalTimeoutMs);
            code = curl_easy_perform(curl.get());
        }
        // A server that let the session time out would keep cleaning up waiting for QUIT's reply.
        if (code == CURLE_OPERATION_TIMEDOUT)
            abort.closeConnection();
        if (abort.reason() == TransferAbort::Reason::TimedOut)
            return fail(QStringLiteral("Timeout: the mail server did not finish within %1 s")
                            .arg(job.totalTimeoutMs / 1000.0),
                        true);
        if (abort.reason() == TransferAbort::Reason::Cancelled)
            return fail(QStringLiteral("Cancelled"));
        if (code == CURLE_OK)
            return true;
        // Every recipient refused: say each, and the mail may pass if one refusal may.
        if (!context.refused.isEmpty() && context.refused.size() == job.rcptTo.size() &&
            code == CURLE_SEND_ERROR)
            return fail(describeRefused(context.refused),
                        std::any_of(context.refused.begin(), context.refused.end(),
                                    [](const RefusedRecipient& r) { return r.mayPass(); }));
        const QByteArray& reply = context.lastErrorReply;
        return fail(describe(code, errorBuffer, reply),
                    reply.isEmpty() ? mayPassCode(code) : reply.startsWith('4'));
    } catch (const std::exception& e) {
        // Only allocation can throw here; it must not cross the worker thread.
        return fail(QString::fromUtf8(e.what()));
    }
}

} // namespace

void warmUpSmtpTransfer()
{
    // One short session with a greeter of our own on loopback, which refuses at once: the first
    // alert then finds threads, libcurl's connection code and its SMTP state machine warm.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener);
        return;
    }
    std::thread greeter([listener] {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, 500) != 1)
            return;
        const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0)
            return;
        const char refusal[] = "554 warm-up\r\n";
        [[maybe_unused]] const auto sent = ::send(peer, refusal, sizeof refusal - 1, MSG_NOSIGNAL);
        ::close(peer);
    });
    SmtpJob job;
    job.host = "127.0.0.1";
    job.port = ntohs(address.sin_port);
    job.ehloName = "localhost";
    job.mailFrom = "warm-up@localhost";
    job.rcptTo = {"warm-up@localhost"};
    // Short bounds, whatever loopback does: a mail may be waiting for this thread.
    job.connectTimeoutMs = 250;
    job.totalTimeoutMs = 500;
    TransferAbort abort;
    runSmtpTransfer(job, abort, nullptr);
    greeter.join();
    ::close(listener);
}

QString describeRefused(const QList<RefusedRecipient>& refused)
{
    QStringList lines;
    for (const RefusedRecipient& r : refused) {
        QString line = QStringLiteral("RCPT failed: ") + QString::fromUtf8(r.reply);
        if (!r.reply.contains(r.address))
            line += QStringLiteral(" (") + QString::fromUtf8(r.address) + u')';
        lines.append(line);
    }
    return lines.join(u'\n');
}

QList<QByteArray> deferredRecipients(const QList<RefusedRecipient>& refused)
{
    QList<QByteArray> deferred;
    for (const RefusedRecipient& r : refused) {
        if (r.mayPass())
            deferred.append(r.address);
    }
    return deferred;
}

bool runSmtpTransfer(const SmtpJob& job, TransferAbort& abort, QString* error, bool* mayPass,
                     QList<RefusedRecipient>* refused, bool* withoutLogin)
{
    Context context;
    context.message = &job.message;
    struct Report {
        Context& context;
        QList<RefusedRecipient>* out;
        ~Report()
        {
            if (out)
                *out = context.refused;
        }
    } report{context, refused};
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> recipients(nullptr,
                                                                           curl_slist_free_all);
    const QByteArray from = '<' + job.mailFrom + '>';
    const bool sent = perform(job, abort, context, error, mayPass, [&](CURL* h) {
        for (const QByteArray& rcpt : job.rcptTo) {
            curl_slist* grown = curl_slist_append(recipients.get(), ('<' + rcpt + '>').constData());
            if (!grown)
                return false;
            recipients.release();
            recipients.reset(grown);
        }
        curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.constData());
        curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
        curl_easy_setopt(h, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L); // libcurl 7.88 spells it so
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(job.message.size()));
        curl_easy_setopt(h, CURLOPT_READFUNCTION, readMessage);
        curl_easy_setopt(h, CURLOPT_READDATA, &context);
        return true;
    });
    // libcurl skips the login when the server offers none. Said only of a mail that went, to a
    // server whose last EHLO (after STARTTLS) was answered without AUTH.
    if (withoutLogin)
        *withoutLogin = sent && !job.password.isEmpty() && context.ehloAnswered &&
                        std::none_of(context.capabilities.cbegin(), context.capabilities.cend(),
                                     [](const QByteArray& c) { return c.startsWith("AUTH"); });
    return sent;
}

bool probeSmtpCapabilities(const SmtpJob& job, TransferAbort& abort,
                           QList<QByteArray>* capabilities, QString* error, bool* mayPass)
{
    Context context;
    const bool ok = perform(job, abort, context, error, mayPass, [](CURL* h) {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "NOOP");
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discard);
        return true;
    });
    if (ok && capabilities)
        *capabilities = context.capabilities;
    return ok;
}
