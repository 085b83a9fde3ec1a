#include "web/WebSite.h"

#include "core/Clock.h"
#include "web/StatusJson.h"
#include "web/StatusPage.h"

#include <QFile>
#include <QJsonDocument>
#include <QUrlQuery>
#include <mutex>

struct WebSite::Shared {
    const Clock& clock;
    Actions actions;
    WebGate gate;
    std::mutex mutex;
    WebStatus status;
    EventLog events;
    qint64 lastReplySteadyMs = 0;

    Shared(const Clock& clock, Actions actions)
        : clock(clock)
        , actions(std::move(actions))
        , gate(clock)
    {
    }

    std::pair<WebStatus, EventLog> now()
    {
        std::unique_lock lock(mutex);
        WebStatus copy = status;
        EventLog list = events;
        const qint64 lastReply = lastReplySteadyMs;
        lock.unlock();
        if (copy.hasReading)
            copy.replyAgeMs = std::max<qint64>(0, clock.steadyMs() - lastReply);
        return {std::move(copy), std::move(list)};
    }
};

namespace {

const char* const Json = "application/json";

HttpReply reply(unsigned status, const char* type, QByteArray body)
{
    HttpReply answer{status, type, std::move(body), {}, {}};
    // Nothing from elsewhere, no frame around it, nothing kept: the page and every answer.
    answer.headers = {
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
         "connect-src 'self'; form-action 'none'; frame-ancestors 'none'; base-uri 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Cache-Control", "no-store"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
    };
    return answer;
}

void addHeader(HttpReply& answer, const QByteArray& name, const QByteArray& value)
{
    answer.headers.append({name, value});
}

HttpReply refusal(unsigned status, const QString& why)
{
    return reply(status, Json, StatusJson::error(why));
}

HttpReply loginWanted(const QString& why)
{
    HttpReply answer = refusal(401, why);
    addHeader(answer, "WWW-Authenticate", "Basic realm=\"ZARVIK Mail\", charset=\"UTF-8\"");
    return answer;
}

QByteArray resource(const char* name)
{
    QFile file(QStringLiteral(":/web/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A form field or a JSON member of the body, else the query's.
QString parameter(const HttpRequest& request, const char* name)
{
    const QByteArray type = request.header("content-type");
    if (type.startsWith("application/json")) {
        const QJsonValue value =
            QJsonDocument::fromJson(request.body).object().value(QLatin1String(name));
        if (value.isString())
            return value.toString();
    } else if (!request.body.isEmpty()) {
        const QUrlQuery form(QString::fromUtf8(request.body));
        if (form.hasQueryItem(QLatin1String(name)))
            return form.queryItemValue(QLatin1String(name), QUrl::FullyDecoded);
    }
    return QString::fromUtf8(request.queryValue(name));
}

const QList<QByteArray> ActionNames = {"rearm", "ack", "mute", "unmute"};
const QList<QByteArray> Pages = {"/",         "/login",       "/page.css",       "/page.js",
                                 "/icon.svg", "/favicon.ico", "/chart/hour.svg", "/chart/day.svg"};

} // namespace

WebSite::WebSite(const Clock& clock, Actions actions)
    : m_shared(std::make_shared<Shared>(clock, std::move(actions)))
{
}

WebSite::~WebSite() = default;

void WebSite::publish(const WebStatus& status, const EventLog& events, qint64 lastReplySteadyMs)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->status = status;
    m_shared->events = events;
    m_shared->lastReplySteadyMs = lastReplySteadyMs;
}

void WebSite::configure(const WebGate::Config& config)
{
    m_shared->gate.configure(config);
}

namespace {

std::optional<HttpReply> act(const std::shared_ptr<WebSite::Shared>& shared,
                             const HttpRequest& request, const QByteArray& name);

} // namespace

HttpHandler WebSite::handler() const
{
    return [shared = m_shared](const HttpRequest& request) -> std::optional<HttpReply> {
        const QByteArray& path = request.path;
        const bool api = path.startsWith("/api/");
        if (!api && !Pages.contains(path))
            return std::nullopt;
        WebGate& gate = shared->gate;
        if (!gate.ownHost(request))
            return refusal(403, QStringLiteral("This server is not \"%1\"")
                                    .arg(QString::fromLatin1(request.header("host"))));
        int retryAfter = 0;
        const WebGate::Login login = gate.login(request, &retryAfter);
        if (login == WebGate::Login::SlowDown) {
            HttpReply answer = refusal(
                429, QStringLiteral("Too many wrong logins; try again in %1 s").arg(retryAfter));
            addHeader(answer, "Retry-After", QByteArray::number(retryAfter));
            return answer;
        }
        if (login == WebGate::Login::Wrong)
            return loginWanted(QStringLiteral("Wrong user or password"));
        const bool loggedIn = login == WebGate::Login::Good;
        if (!loggedIn && !gate.loopback())
            return loginWanted(QStringLiteral("Log in to read this page"));

        if (api && ActionNames.contains(path.mid(5)))
            return act(shared, request, path.mid(5));
        if (request.method != "GET" && request.method != "HEAD") {
            HttpReply answer = refusal(405, QStringLiteral("Only GET here"));
            addHeader(answer, "Allow", "GET, HEAD");
            return answer;
        }
        if (path == "/page.css")
            return reply(200, "text/css; charset=utf-8", resource("page.css"));
        if (path == "/page.js")
            return reply(200, "text/javascript; charset=utf-8", resource("page.js"));
        if (path == "/icon.svg")
            return reply(200, "image/svg+xml", resource("icon.svg"));
        if (path == "/favicon.ico")
            return reply(204, "", {}); // browsers ask whatever the page says
        if (path == "/login") {
            if (!gate.loginSet())
                return refusal(403, QStringLiteral("No login is set"));
            if (!loggedIn)
                return loginWanted(QStringLiteral("Log in to act"));
            // Where the browser asked, without the credentials a typed address may hold.
            HttpReply answer = reply(303, Json, {});
            addHeader(answer, "Location",
                      QByteArray(request.tls ? "https://" : "http://") + request.header("host") +
                          "/");
            return answer;
        }
        const auto [status, events] = shared->now();
        const qint64 nowMs = shared->clock.nowMs();
        if (path == "/chart/hour.svg")
            return reply(200, "image/svg+xml", StatusPage::hourChart(status, nowMs));
        if (path == "/chart/day.svg")
            return reply(200, "image/svg+xml", StatusPage::dayChart(status, nowMs));
        if (path == "/api/status")
            return reply(200, Json, StatusJson::status(status));
        if (path == "/api/events") {
            // No id, or none it knows: everything kept.
            const quint64 since = request.queryValue("since").toULongLong();
            return reply(200, Json, StatusJson::events(events.since(since), events.lastId()));
        }
        if (path == "/") {
            const QByteArray token = loggedIn && gate.loginSet() ? gate.token() : QByteArray();
            return reply(
                200, "text/html; charset=utf-8",
                StatusPage::html(status, events.since(0), {token, gate.loginSet(), nowMs}));
        }
        return refusal(404, QStringLiteral("No such page"));
    };
}

namespace {

std::optional<HttpReply> act(const std::shared_ptr<WebSite::Shared>& shared,
                             const HttpRequest& request, const QByteArray& name)
{
    WebGate& gate = shared->gate;
    if (request.method != "POST") {
        HttpReply answer = refusal(405, QStringLiteral("An action is a POST"));
        addHeader(answer, "Allow", "POST");
        return answer;
    }
    if (!gate.ownOrigin(request))
        return refusal(403, QStringLiteral("Another site cannot act here"));
    if (!gate.loginSet())
        return refusal(403, QStringLiteral("No login is set: set [Web] User and a password "
                                           "(zarvik-maild --web-password)"));
    if (gate.login(request) != WebGate::Login::Good)
        return loginWanted(QStringLiteral("Log in to act"));
    // A page acts with its token; a script with its login alone.
    const bool fromPage = !request.header("origin").isEmpty();
    const bool tokenSent = request.headers.contains("x-zarvik-token");
    if ((fromPage || tokenSent) && !gate.tokenMatches(request))
        return refusal(403, QStringLiteral("The page is out of date: load it again"));

    const QString from = request.peer.toString();
    const QString duration = parameter(request, "for");
    const QString until = parameter(request, "until");
    if (name == "mute" && duration.isEmpty() == until.isEmpty())
        return refusal(400, QStringLiteral("Say for how long (for=1h) or until when "
                                           "(until=14:30)"));
    HttpReply waiting;
    waiting.onOwnerThread = [shared, name, from, duration, until]() {
        const WebSite::Actions& actions = shared->actions;
        WebSite::Action done;
        if (name == "rearm")
            done = actions.rearm(from);
        else if (name == "ack")
            done = actions.acknowledge(from);
        else if (name == "mute")
            done = actions.mute(from, duration, until);
        else
            done = actions.unmute(from);
        if (!done.done && !done.text.isEmpty())
            return refusal(400, done.text);
        return reply(200, Json, StatusJson::done(QString::fromLatin1(name), done.text, done.extra));
    };
    return waiting;
}

} // namespace
