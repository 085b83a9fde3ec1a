#include "push/PushChannels.h"

#include "alert/AlertRules.h"
#include "core/AtomicFile.h"
#include "core/KeptFolder.h"
#include "core/KeptQueue.h"
#include "net/Transfer.h"
#include "push/PushAddress.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QUrl>
#include <algorithm>
#include <limits>
#include <optional>

namespace {

// First line of every kept file, so that a stray file in the folder is never sent.
const QByteArray Magic = "ZARVIK-Push 1";
const QString Suffix = QStringLiteral(".push");
// A notice is a few hundred bytes; anything far larger is not one of ours.
constexpr qint64 MaxFileSize = 256 * 1024;
// The only fields a kept file may ask for: a planted one cannot add credentials or the like.
const QList<QByteArray> KeptFields = {"Title", "Priority", "Tags", "Content-Type"};

QByteArray oneLine(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return line.toUtf8();
}

bool isPrintableAscii(const QByteArray& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return uchar(c) >= 0x20 && uchar(c) < 0x7f; });
}

// HTTP fields carry ASCII; ntfy decodes RFC 2047 encoded-words in its Title. Each word holds
// whole UTF-8 characters, at most 45 bytes (60 in Base64), as mail headers have them.
QByteArray headerText(const QString& text)
{
    const QByteArray utf8 = oneLine(text);
    if (isPrintableAscii(utf8))
        return utf8;
    QByteArray out;
    qsizetype from = 0;
    while (from < utf8.size()) {
        qsizetype end = std::min<qsizetype>(from + 45, utf8.size());
        while (end < utf8.size() && (uchar(utf8[end]) & 0xc0) == 0x80)
            --end;
        if (!out.isEmpty())
            out += ' ';
        out += "=?UTF-8?B?" + utf8.mid(from, end - from).toBase64() + "?=";
        from = end;
    }
    return out;
}

// The Bot API takes at most 4096 characters of text.
constexpr qsizetype TelegramTextLimit = 4096;

// The text of a Telegram push as kept: it goes to the chat in force when it is sent.
std::optional<QString> telegramText(const QByteArray& body)
{
    const QJsonValue text = QJsonDocument::fromJson(body).object().value(QLatin1String("text"));
    return text.isString() ? std::optional(text.toString()) : std::nullopt;
}

// An id as a number (the Bot API's "Integer or String", ids within 52 bits), "@channel" as text.
QJsonValue chatId(const QString& chat)
{
    bool number = false;
    const qlonglong id = chat.toLongLong(&number);
    constexpr qlonglong Exact = 1LL << 53;
    return number && id > -Exact && id < Exact ? QJsonValue(id) : QJsonValue(chat);
}

QByteArray telegramBody(const QString& chat, const QString& text)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("chat_id"), chatId(chat)},
                                     {QStringLiteral("text"), text}})
        .toJson(QJsonDocument::Compact);
}

QString isoTime(qint64 ms)
{
    const int offset = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset).toString(Qt::ISODate);
}

QByteArray encode(PushChannels::Channel channel, const PushRequest& request)
{
    QByteArray bytes = Magic + "\r\n" + PushChannels::ChannelNames[channel] + "\r\n";
    for (const QByteArray& field : request.headers)
        bytes += field + "\r\n";
    return bytes + "\r\n" + request.body;
}

bool decode(const QByteArray& bytes, PushChannels::Channel* channel, PushRequest* request)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    if (lines.size() < 2 || lines[0] != Magic + '\r')
        return false;
    const QByteArray name = lines.size() == 2 ? lines[1] : lines[1].chopped(1);
    const auto* names = std::begin(PushChannels::ChannelNames);
    const auto* found = std::find_if(names, std::end(PushChannels::ChannelNames),
                                     [&](const char* n) { return name == n; });
    if (found == std::end(PushChannels::ChannelNames))
        return false;
    PushRequest result;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QByteArray field = i + 1 < lines.size() ? lines[i].chopped(1) : lines[i];
        if (!isPrintableAscii(field) || !KeptFields.contains(field.left(field.indexOf(':'))))
            return false;
        result.headers.append(field);
    }
    result.body = bytes.mid(end + 4);
    if (found - names == PushChannels::Telegram && !telegramText(result.body))
        return false;
    *channel = PushChannels::Channel(found - names);
    *request = result;
    return true;
}

bool readKept(const QString& path, PushChannels::Channel* channel, PushRequest* request,
              QString* error)
{
    // Never a link (it could name any file) nor a FIFO or device (reading could block).
    const AtomicFile::Read file = AtomicFile::read(path, MaxFileSize, AtomicFile::Links::Refuse);
    if (file.missing || !file.error.isEmpty()) {
        *error = file.missing ? QStringLiteral("the file is gone") : file.error;
        return false;
    }
    if (file.bytes.size() > MaxFileSize || !decode(file.bytes, channel, request)) {
        *error = QStringLiteral("not a kept push");
        return false;
    }
    return true;
}

} // namespace

PushChannels::PushChannels(const QString& folder, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
    , m_queue(new KeptQueue(
          clock, {folder, Suffix, Capacity, 0700}, ChannelCount,
          [this](const QString& path) {
              Channel channel;
              PushRequest request;
              return readOrSetAside(path, &channel, &request) ? int(channel) : -1;
          },
          this))
{
    qRegisterMetaType<PushResult>();
    for (int c = 0; c < ChannelCount; ++c)
        m_queue->setLaneOpen(c, false);
    connect(m_queue, &KeptQueue::due, this, &PushChannels::sendKept);
    connect(m_queue, &KeptQueue::drained, this, [this](int sent) {
        emit note(tr("保存していた通知 %n 件を送信しました。", nullptr, sent));
    });
    // A keep cut short by a kill left its file under a temporary name.
    m_queue->takeInLeftovers([](const QString& path) {
        Channel channel;
        PushRequest request;
        QString error;
        return readKept(path, &channel, &request, &error);
    });
}

PushChannels::~PushChannels()
{
    abort();
    for (auto& [id, job] : m_jobs) {
        if (job->worker.joinable())
            job->worker.join();
        // Given up on closing: an alert's push goes out at the next start.
        QString path;
        QString why;
        if (job->kind == Kind::Alert && m_retry && !job->outcome.delivered)
            keep(job->channel, job->request, &path, &why);
    }
}

QString PushChannels::folderFor(const QString& settingsPath)
{
    return KeptFolder::beside(settingsPath, QStringLiteral(".pushbox"));
}

void PushChannels::setUrl(Channel channel, const QString& url)
{
    m_urls[channel] = url.trimmed();
    // A kept push waits for its channel to come back.
    m_queue->setLaneOpen(channel, !m_urls[channel].isEmpty());
}

void PushChannels::setTelegram(const QString& token, const QString& chat, const QString& api)
{
    m_telegramChat = chat.trimmed();
    const bool on = !token.trimmed().isEmpty() && !m_telegramChat.isEmpty();
    const QString base = api.trimmed().isEmpty() ? QString::fromLatin1(DefaultTelegramApi) : api;
    m_urls[Telegram] = on ? telegramUrl(base, token) : QString();
    m_queue->setLaneOpen(Telegram, on);
}

QString PushChannels::telegramUrl(const QString& api, const QString& token)
{
    QString base = api.trimmed();
    while (base.endsWith(u'/'))
        base.chop(1);
    // A token is digits, ':' and URL-safe letters; anything else must not reach the path.
    return base + QStringLiteral("/bot") +
           QString::fromLatin1(QUrl::toPercentEncoding(token.trimmed(), ":")) +
           QStringLiteral("/sendMessage");
}

bool PushChannels::isConfigured() const
{
    return std::any_of(std::begin(m_urls), std::end(m_urls),
                       [](const QString& url) { return !url.isEmpty(); });
}

void PushChannels::setRetry(bool on)
{
    const bool starting = on && !m_retry;
    m_retry = on;
    // Turned on, every kept push is due at once, but a server that asked for time still has it.
    m_queue->setRunning(on && !m_closed);
    if (starting) {
        for (int c = 0; c < ChannelCount; ++c)
            m_queue->holdLane(c, m_askedUntilMs[c]);
    }
}

void PushChannels::setDelayScale(double scale)
{
    m_scale = scale;
    m_queue->setDelayScale(scale);
}

void PushChannels::setTimeouts(int connectMs, int totalMs)
{
    m_connectTimeoutMs = connectMs;
    m_totalTimeoutMs = totalMs;
}

PushRequest PushChannels::ntfyRequest(const PushNotice& notice)
{
    static const char* const priorities[] = {"5", "3", "2"};
    const bool known = notice.priority >= 0 && notice.priority < 3;
    const QString title = notice.title.value_or(notice.subject);
    const QString body = notice.body.value_or(notice.message);
    PushRequest request;
    request.headers = {
        "Title: " + headerText(title),
        QByteArray("Priority: ") + (known ? priorities[notice.priority] : "3"),
        QByteArray("Tags: ") + (notice.event == QLatin1String("recovered")      ? "white_check_mark"
                                : notice.event == QLatin1String("acknowledged") ? "eyes"
                                                                                : "warning"),
        "Content-Type: text/plain; charset=utf-8",
    };
    request.body = (body.isEmpty() ? title : body).toUtf8();
    return request;
}

PushRequest PushChannels::webhookRequest(const PushNotice& notice)
{
    QJsonArray rules;
    for (int i = 0; i < int(std::size(AlertRuleNames)); ++i) {
        if (notice.rules & (1 << i))
            rules.append(QString::fromLatin1(AlertRuleNames[i]));
    }
    const bool haveReading = notice.reading.timeMs != 0;
    // What chats show; "subject" and "message" stay the event's own for whoever reads the fields.
    const QString text =
        notice.title.value_or(notice.subject) + u' ' + notice.body.value_or(notice.message);
    const QJsonObject object{
        {QStringLiteral("text"), text},
        {QStringLiteral("content"), text},
        {QStringLiteral("event"), notice.event},
        {QStringLiteral("rules"), rules},
        {QStringLiteral("message"), notice.message},
        {QStringLiteral("subject"), notice.subject},
        {QStringLiteral("temperature"),
         haveReading ? QJsonValue(double(notice.reading.temperature)) : QJsonValue()},
        {QStringLiteral("rb1"),
         haveReading ? QJsonValue(notice.reading.rb1 ? 1 : 0) : QJsonValue()},
        {QStringLiteral("rb0"),
         haveReading ? QJsonValue(notice.reading.rb0 ? 1 : 0) : QJsonValue()},
        {QStringLiteral("time"), isoTime(notice.timeMs ? notice.timeMs : Clock::system().nowMs())},
        {QStringLiteral("board"), notice.board},
    };
    PushRequest request;
    request.headers = {"Content-Type: application/json"};
    request.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return request;
}

PushRequest PushChannels::telegramRequest(const PushNotice& notice, const QString& chat)
{
    // The user's own words when there are any, as ntfy's title and body.
    QString text = notice.title.value_or(notice.subject);
    const QString body = notice.body.value_or(notice.message);
    if (!body.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + body;
    if (text.isEmpty())
        text = QStringLiteral("ZARVIK Mail"); // the Bot API refuses an empty text
    if (text.size() > TelegramTextLimit) {
        qsizetype cut = TelegramTextLimit - 1;
        if (text[cut - 1].isHighSurrogate())
            --cut;
        text = text.left(cut) + QChar(0x2026);
    }
    PushRequest request;
    request.headers = {"Content-Type: application/json"};
    request.body = telegramBody(chat, text);
    return request;
}

void PushChannels::send(const PushNotice& notice)
{
    if (m_closed)
        return;
    if (!m_urls[Ntfy].isEmpty())
        start(Ntfy, Kind::Alert, ntfyRequest(notice));
    if (!m_urls[Webhook].isEmpty())
        start(Webhook, Kind::Alert, webhookRequest(notice));
    if (!m_urls[Telegram].isEmpty())
        start(Telegram, Kind::Alert, telegramRequest(notice, m_telegramChat));
}

void PushChannels::sendTest(const PushNotice& notice)
{
    if (m_closed)
        return;
    if (!m_urls[Ntfy].isEmpty())
        start(Ntfy, Kind::Test, ntfyRequest(notice));
    if (!m_urls[Webhook].isEmpty())
        start(Webhook, Kind::Test, webhookRequest(notice));
    if (!m_urls[Telegram].isEmpty())
        start(Telegram, Kind::Test, telegramRequest(notice, m_telegramChat));
}

void PushChannels::start(Channel channel, Kind kind, PushRequest request, const QString& path)
{
    request.url = m_urls[channel].toUtf8();
    // A kept one's text goes to the chat in force, whatever chat it was first meant for.
    if (channel == Telegram)
        request.body = telegramBody(m_telegramChat, telegramText(request.body).value_or(QString()));
    request.connectTimeoutMs = m_connectTimeoutMs;
    request.totalTimeoutMs = m_totalTimeoutMs;
    const quint64 id = ++m_nextId;
    auto job = std::make_unique<Job>();
    job->channel = channel;
    job->kind = kind;
    job->request = request;
    job->path = path;
    job->abort = std::make_unique<TransferAbort>();
    Job* j = job.get();
    m_jobs.emplace(id, std::move(job));
    const qint64 asked = m_askedUntilMs[channel] - m_clock.steadyMs();
    if (kind == Kind::Alert && m_retry && asked > 0) {
        // Its server asked for time: it is kept at once and waits with the others.
        j->outcome.mayPass = true;
        j->outcome.error = QStringLiteral("Retry-After: the server asked to wait %1 s more")
                               .arg((asked + 999) / 1000);
        QMetaObject::invokeMethod(
            this, [this, id] { done(id); }, Qt::QueuedConnection);
        return;
    }
    j->worker = std::thread([this, id, j] {
        j->outcome = runPush(j->request, *j->abort);
        QMetaObject::invokeMethod(
            this, [this, id] { done(id); }, Qt::QueuedConnection);
    });
}

void PushChannels::done(quint64 id)
{
    const auto it = m_jobs.find(id);
    if (it == m_jobs.end())
        return;
    const std::unique_ptr<Job> job = std::move(it->second);
    m_jobs.erase(it);
    if (job->worker.joinable())
        job->worker.join();
    const PushOutcome& outcome = job->outcome;
    const QString name = QString::fromLatin1(ChannelNames[job->channel]);
    const bool cancelled = job->abort->requested();
    // libcurl and the server may quote the URL: only its host is for the user.
    const QString where = PushAddress::shown(job->request.url);
    const QString error = PushAddress::withoutSecrets(outcome.error, job->request.url) +
                          (where.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(where));

    if (job->kind == Kind::Kept) {
        if (outcome.delivered) {
            m_queue->delivered(job->path);
        } else if (cancelled) {
            m_queue->stopped(job->path); // closing: it stays kept for the next start
        } else if (outcome.mayPass) {
            const qint64 dueMs = m_queue->failed(job->path);
            if (dueMs >= 0)
                hold(job->channel, dueMs, outcome.retryAfterS);
        } else {
            m_queue->setAside(job->path, QStringLiteral(".refused"));
            emit note(tr("保存していた %1 への通知は拒否されました: %2").arg(name, error));
        }
        return;
    }

    PushResult result;
    result.channel = name;
    result.where = where;
    result.sent = outcome.delivered;
    result.mayPass = outcome.mayPass;
    result.error = outcome.delivered ? QString() : error;
    // An alert's push given up on closing is kept too: it goes out at the next start.
    if (job->kind == Kind::Alert && !outcome.delivered && (outcome.mayPass || cancelled) &&
        m_retry) {
        QString path;
        QString why;
        result.kept = keep(job->channel, job->request, &path, &why);
        if (result.kept)
            hold(job->channel, m_queue->dueMs(path), outcome.retryAfterS);
        else
            result.error += u'\n' + tr("送信できなかった通知を保存できませんでした: %1").arg(why);
    }
    if (cancelled && !result.kept)
        result.error = QStringLiteral("Cancelled");
    if (job->kind == Kind::Test)
        emit testFinished(result);
    else
        emit finished(result);
}

bool PushChannels::keep(Channel channel, const PushRequest& request, QString* path, QString* error)
{
    return m_queue->keep(channel, encode(channel, request), path, error);
}

bool PushChannels::readOrSetAside(const QString& path, Channel* channel, PushRequest* request)
{
    QString error;
    if (readKept(path, channel, request, &error))
        return true;
    const QString aside = m_queue->setAside(path, QStringLiteral(".bad"));
    emit note(
        tr("保存していた通知を読めません (%1): %2").arg(aside.isEmpty() ? path : aside, error));
    return false;
}

void PushChannels::hold(Channel channel, qint64 untilMs, int retryAfterS)
{
    if (retryAfterS >= 0) {
        const int seconds = std::min(retryAfterS, MaxRetryAfterS);
        qint64& asked = m_askedUntilMs[channel];
        asked = std::max(asked, m_clock.steadyMs() + qint64(seconds * 1000.0 * m_scale));
        untilMs = std::max(untilMs, asked);
        const QString name = QString::fromLatin1(ChannelNames[channel]);
        emit note(seconds < retryAfterS
                      ? tr("%1 のサーバーは %2 秒待つよう求めました。%1 へは 1 "
                           "時間後まで送りません。")
                            .arg(name)
                            .arg(retryAfterS)
                      : tr("%1 のサーバーの求めにより、%1 へは %2 秒後まで送りません。")
                            .arg(name)
                            .arg(seconds));
    }
    m_queue->holdLane(channel, untilMs);
}

QStringList PushChannels::kept() const
{
    return m_queue->files();
}

void PushChannels::sendKept(const QString& path, int lane)
{
    Channel channel;
    PushRequest request;
    if (!readOrSetAside(path, &channel, &request))
        return;
    if (channel != lane) // rewritten since it was listed
        m_queue->moveToLane(path, channel);
    else
        start(channel, Kind::Kept, request, path);
}

void PushChannels::abort()
{
    m_closed = true;
    m_queue->setRunning(false);
    for (auto& [id, job] : m_jobs)
        job->abort->request(TransferAbort::Reason::Cancelled);
}
