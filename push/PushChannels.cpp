#include "push/PushChannels.h"

#include "alert/AlertRules.h"
#include "core/AtomicFile.h"
#include "core/KeptFolder.h"
#include "net/Transfer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cerrno>
#include <limits>
#include <sys/stat.h>

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

PushChannels::PushChannels(const QString& folder, QObject* parent)
    : QObject(parent)
    , m_folder(folder)
{
    qRegisterMetaType<PushResult>();
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PushChannels::tryNext);
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
    if (m_retry && !m_urls[channel].isEmpty())
        m_timer.start(0);
}

bool PushChannels::isConfigured() const
{
    return std::any_of(std::begin(m_urls), std::end(m_urls),
                       [](const QString& url) { return !url.isEmpty(); });
}

void PushChannels::setRetry(bool on)
{
    if (on && !m_retry) {
        // The folder may have changed meanwhile; every kept push is due.
        m_listed = false;
        m_timer.start(0);
    }
    m_retry = on;
    if (!on)
        m_timer.stop();
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
    PushRequest request;
    request.headers = {
        "Title: " + headerText(notice.subject),
        QByteArray("Priority: ") + (known ? priorities[notice.priority] : "3"),
        QByteArray("Tags: ") +
            (notice.event == QLatin1String("recovered") ? "white_check_mark" : "warning"),
        "Content-Type: text/plain; charset=utf-8",
    };
    request.body = (notice.message.isEmpty() ? notice.subject : notice.message).toUtf8();
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
    const QString text = notice.subject + u' ' + notice.message;
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
        {QStringLiteral("time"),
         isoTime(notice.timeMs ? notice.timeMs : QDateTime::currentMSecsSinceEpoch())},
        {QStringLiteral("board"), notice.board},
    };
    PushRequest request;
    request.headers = {"Content-Type: application/json"};
    request.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
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
}

void PushChannels::sendTest(const PushNotice& notice)
{
    if (m_closed)
        return;
    if (!m_urls[Ntfy].isEmpty())
        start(Ntfy, Kind::Test, ntfyRequest(notice));
    if (!m_urls[Webhook].isEmpty())
        start(Webhook, Kind::Test, webhookRequest(notice));
}

void PushChannels::start(Channel channel, Kind kind, PushRequest request, const QString& path)
{
    request.url = m_urls[channel].toUtf8();
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
    const qint64 asked = m_lanes[channel].askedUntilMs - m_clock.elapsed();
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

    if (job->kind == Kind::Kept) {
        m_lanes[job->channel].sending.clear();
        const auto kept = m_kept.find(job->path);
        if (outcome.delivered) {
            ++m_sentInARow;
            QFile::remove(job->path);
            forget(job->path);
            // The server is back: the channel's other kept pushes need not wait.
            m_lanes[job->channel].heldUntilMs = 0;
        } else if (cancelled) {
            // Closing: it stays kept for the next start.
        } else if (outcome.mayPass) {
            // Gone from the folder meanwhile (the oldest make room): nothing to try again.
            if (kept != m_kept.end()) {
                Kept& k = kept->second;
                schedule(job->path, k,
                         m_clock.elapsed() + KeptFolder::retryDelayMs(k.attempt++, m_scale));
                hold(job->channel, k.atMs, outcome.retryAfterS);
            }
        } else {
            forget(job->path);
            KeptFolder::setAside(job->path, QStringLiteral(".refused"));
            emit note(QStringLiteral("保存していた %1 への通知は拒否されました: %2")
                          .arg(name, outcome.error));
        }
        if (!m_closed)
            m_timer.start(0);
        return;
    }

    PushResult result;
    result.channel = name;
    result.sent = outcome.delivered;
    result.mayPass = outcome.mayPass;
    result.error = outcome.error;
    // An alert's push given up on closing is kept too: it goes out at the next start.
    if (job->kind == Kind::Alert && !outcome.delivered && (outcome.mayPass || cancelled) &&
        m_retry) {
        QString path;
        QString why;
        result.kept = keep(job->channel, job->request, &path, &why);
        if (result.kept) {
            Kept& k = m_kept.at(path);
            schedule(path, k, m_clock.elapsed() + KeptFolder::retryDelayMs(k.attempt++, m_scale));
            hold(job->channel, k.atMs, outcome.retryAfterS);
            if (!m_closed)
                m_timer.start(0);
        } else
            result.error += QStringLiteral("\n送信できなかった通知を保存できませんでした: ") + why;
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
    // The folder lies beside the settings file, whose folder exists.
    if (::mkdir(QFile::encodeName(m_folder).constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("%1: %2").arg(m_folder, qt_error_string(errno));
        return false;
    }
    if (!m_listed)
        listKept();
    *path = KeptFolder::freshPath(m_folder, Suffix);
    if (!AtomicFile::replace(*path, encode(channel, request), error))
        return false;
    m_kept.emplace(*path, Kept{channel});
    // The oldest go, never the push just kept (its name sorts last).
    while (m_kept.size() > size_t(Capacity)) {
        const QString oldest = m_kept.begin()->first;
        QFile::remove(oldest);
        forget(oldest);
    }
    return true;
}

void PushChannels::listKept()
{
    m_kept.clear();
    for (Lane& lane : m_lanes) {
        lane.queue.clear();
        lane.heldUntilMs = lane.askedUntilMs;
    }
    for (const QString& path : KeptFolder::list(m_folder, Suffix)) {
        Channel channel;
        PushRequest request;
        if (!readOrSetAside(path, &channel, &request))
            continue;
        m_kept.emplace(path, Kept{channel});
        // The one on its way is queued again once it is over, if it failed.
        if (m_lanes[channel].sending != path)
            m_lanes[channel].queue.emplace(0, path);
    }
    m_listed = true;
}

bool PushChannels::readOrSetAside(const QString& path, Channel* channel, PushRequest* request)
{
    QString error;
    if (readKept(path, channel, request, &error))
        return true;
    forget(path);
    const QString aside = KeptFolder::setAside(path, QStringLiteral(".bad"));
    emit note(QStringLiteral("保存していた通知を読めません (%1): %2")
                  .arg(aside.isEmpty() ? path : aside, error));
    return false;
}

void PushChannels::schedule(const QString& path, Kept& kept, qint64 atMs)
{
    std::set<std::pair<qint64, QString>>& queue = m_lanes[kept.channel].queue;
    queue.erase({kept.atMs, path});
    kept.atMs = atMs;
    queue.emplace(atMs, path);
}

void PushChannels::forget(const QString& path)
{
    const auto kept = m_kept.find(path);
    if (kept == m_kept.end())
        return;
    m_lanes[kept->second.channel].queue.erase({kept->second.atMs, path});
    m_kept.erase(kept);
}

void PushChannels::hold(Channel channel, qint64 untilMs, int retryAfterS)
{
    Lane& lane = m_lanes[channel];
    if (retryAfterS >= 0) {
        const int seconds = std::min(retryAfterS, MaxRetryAfterS);
        lane.askedUntilMs =
            std::max(lane.askedUntilMs, m_clock.elapsed() + qint64(seconds * 1000.0 * m_scale));
        untilMs = std::max(untilMs, lane.askedUntilMs);
        const QString name = QString::fromLatin1(ChannelNames[channel]);
        emit note(seconds < retryAfterS
                      ? QStringLiteral("%1 のサーバーは %2 秒待つよう求めました。%1 へは 1 "
                                       "時間後まで送りません。")
                            .arg(name)
                            .arg(retryAfterS)
                      : QStringLiteral("%1 のサーバーの求めにより、%1 へは %2 秒後まで送りません。")
                            .arg(name)
                            .arg(seconds));
    }
    lane.heldUntilMs = std::max(lane.heldUntilMs, untilMs);
}

QStringList PushChannels::kept() const
{
    return KeptFolder::list(m_folder, Suffix);
}

void PushChannels::tryNext()
{
    if (!m_retry || m_closed)
        return;
    if (!m_listed)
        listKept();
    const qint64 now = m_clock.elapsed();
    qint64 next = std::numeric_limits<qint64>::max();
    bool sending = false;
    for (int c = 0; c < ChannelCount; ++c) {
        Lane& lane = m_lanes[c];
        // Its channel is off now: its kept pushes wait until it is set again.
        while (lane.sending.isEmpty() && !m_urls[c].isEmpty() && !lane.queue.empty()) {
            const auto [dueMs, path] = *lane.queue.begin();
            const qint64 at = std::max(dueMs, lane.heldUntilMs);
            if (at > now) {
                next = std::min(next, at);
                break;
            }
            Channel channel;
            PushRequest request;
            if (!readOrSetAside(path, &channel, &request))
                continue;
            if (channel != c) { // rewritten since it was listed
                Kept& kept = m_kept.at(path);
                lane.queue.erase(lane.queue.begin());
                kept.channel = channel;
                m_lanes[channel].queue.emplace(kept.atMs, path);
                continue;
            }
            lane.queue.erase(lane.queue.begin());
            lane.sending = path;
            start(channel, Kind::Kept, request, path);
        }
        sending = sending || !lane.sending.isEmpty();
    }
    if (!sending && m_sentInARow > 0) {
        emit note(QStringLiteral("保存していた通知 %1 件を送信しました。").arg(m_sentInARow));
        m_sentInARow = 0;
    }
    if (next != std::numeric_limits<qint64>::max())
        m_timer.start(int(std::min<qint64>(next - now, std::numeric_limits<int>::max())));
}

void PushChannels::abort()
{
    m_closed = true;
    m_timer.stop();
    for (auto& [id, job] : m_jobs)
        job->abort->request(TransferAbort::Reason::Cancelled);
}
