#pragma once

#include "core/Clock.h"
#include "device/Reading.h"
#include "push/PushTransfer.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>
#include <thread>

// What a push says: an alert, or any later kind of notice, the same way through every channel.
struct PushNotice {
    QString event;    // "alert" | "recovered" | "reminder" | "acknowledged" | "test"
    quint8 rules = 0; // AlertRule bits
    QString subject;  // the mail's
    QString message;  // the one shown on screen
    // What the post shows (ntfy's title and body, the webhook's text) when not the subject and
    // the message: the user's own words.
    std::optional<QString> title;
    std::optional<QString> body;
    int priority = 2;  // the mail priority index: 0 High, 1 Normal, 2 Low, other none
    Reading reading;   // the last correct reply; timeMs 0 when there was none
    QString board;     // "address:port"
    qint64 timeMs = 0; // when it happened, on the wall clock; 0: when it is sent
};

// How one push to one channel ended.
struct PushResult {
    QString channel; // "ntfy" | "webhook" | "telegram"
    QString where;   // its server as shown: scheme, host and port (PushAddress::shown)
    bool sent = false;
    bool kept = false;    // failed for now, kept to be sent again
    bool mayPass = false; // the failure may pass by itself
    QString error;        // why not, for the user, ending in `where`; never the URL's path
};
Q_DECLARE_METATYPE(PushResult)

// Posts notices to the configured push channels, each on a worker thread of its own, so neither
// the window, the poll, the mail nor another channel ever waits for one. A push that fails for a
// reason that may pass is kept, when retrying is on, in the kept queue's folder beside the
// outbox, and sent again with its waits; kept pushes go to the channel's URL (and Telegram chat)
// in force then, so a file never chooses where it goes, and no file holds a token. Each channel is
// a lane of the queue: one kept push at a time, and after a failure its others wait until the next
// try, so a server that is down gets one request a wave, and a 429 or 503 with Retry-After holds
// the channel that long (an hour at most).
class KeptQueue;

class PushChannels : public QObject {
    Q_OBJECT
public:
    enum Channel { Ntfy, Webhook, Telegram, ChannelCount };
    static constexpr const char* ChannelNames[] = {"ntfy", "webhook", "telegram"};
    static constexpr const char* DefaultTelegramApi = "https://api.telegram.org";
    static constexpr int Capacity = 1000;
    // A server's Retry-After beyond this is taken as this: an alert must not wait for days.
    static constexpr int MaxRetryAfterS = 3600;

    // Kept pushes live in `folder` (folderFor(settingsPath)); waits are read from `clock`.
    explicit PushChannels(const QString& folder, const Clock& clock = Clock::system(),
                          QObject* parent = nullptr);
    // Gives up every push under way; those of alerts stay kept when retrying is on.
    ~PushChannels() override;

    // "<dir>/ZARVIK_Mail.ini" keeps its pushes in "<dir>/ZARVIK_Mail.pushbox".
    static QString folderFor(const QString& settingsPath);

    // Empty: that channel is off. Telegram's URL is made by setTelegram().
    void setUrl(Channel channel, const QString& url);
    QString url(Channel channel) const { return m_urls[channel]; }
    // The bot posts to `chat` (an id, or "@channel"); off unless both are set. `api` empty:
    // DefaultTelegramApi, otherwise e.g. a local Bot API server.
    void setTelegram(const QString& token, const QString& chat, const QString& api = {});
    bool isConfigured() const;
    // Turning it on reads the folder again and tries every kept push at once.
    void setRetry(bool on);
    void setTimeouts(int connectMs, int totalMs);
    // Multiplies every wait between tries; tests shorten them.
    void setDelayScale(double scale);

    // One push per configured channel, each ending in one finished().
    void send(const PushNotice& notice);
    // The same, each ending in one testFinished(); never kept.
    void sendTest(const PushNotice& notice);
    // Closing: everything under way is given up at once, and nothing is tried again.
    void abort();

    KeptQueue& queue() { return *m_queue; }
    // The kept pushes' files, as the folder holds them now.
    QStringList kept() const;

    // The requests as they go out (without the URL).
    static PushRequest ntfyRequest(const PushNotice& notice);
    static PushRequest webhookRequest(const PushNotice& notice);
    static PushRequest telegramRequest(const PushNotice& notice, const QString& chat);
    // "<api>/bot<token>/sendMessage"
    static QString telegramUrl(const QString& api, const QString& token);

signals:
    void finished(const PushResult& result);
    void testFinished(const PushResult& result);
    // One line for the user about kept pushes.
    void note(const QString& text);

private:
    enum class Kind { Alert, Test, Kept };
    struct Job {
        Channel channel;
        Kind kind;
        PushRequest request;
        QString path; // a kept push's file
        std::unique_ptr<TransferAbort> abort;
        std::thread worker;
        PushOutcome outcome;
    };
    void start(Channel channel, Kind kind, PushRequest request, const QString& path = {});
    void done(quint64 id);
    bool keep(Channel channel, const PushRequest& request, QString* path, QString* error);
    // A kept file that cannot be read is set aside as ".bad", and said.
    bool readOrSetAside(const QString& path, Channel* channel, PushRequest* request);
    void sendKept(const QString& path, int lane);
    // A failure that may pass: the channel waits, at least as long as its server asked.
    void hold(Channel channel, qint64 untilMs, int retryAfterS);

    QString m_urls[ChannelCount];
    QString m_telegramChat;
    bool m_retry = false;
    bool m_closed = false;
    double m_scale = 1.0;
    int m_connectTimeoutMs = PushRequest::DefaultConnectTimeoutMs;
    int m_totalTimeoutMs = PushRequest::DefaultTotalTimeoutMs;
    quint64 m_nextId = 0;
    std::map<quint64, std::unique_ptr<Job>> m_jobs;
    const Clock& m_clock;
    KeptQueue* m_queue;
    qint64 m_askedUntilMs[ChannelCount] = {}; // as each server asked, on the steady clock
};
