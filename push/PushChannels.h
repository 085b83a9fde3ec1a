#pragma once

#include "device/Reading.h"
#include "push/PushTransfer.h"

#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <map>
#include <memory>
#include <set>
#include <thread>

// What a push says: an alert, or any later kind of notice, the same way through every channel.
struct PushNotice {
    QString event;     // "alert" | "recovered" | "reminder" | "test"
    quint8 rules = 0;  // AlertRule bits
    QString subject;   // the mail's
    QString message;   // the one shown on screen
    int priority = 2;  // the mail priority index: 0 High, 1 Normal, 2 Low, other none
    Reading reading;   // the last correct reply; timeMs 0 when there was none
    QString board;     // "address:port"
    qint64 timeMs = 0; // when it happened, on the wall clock; 0: when it is sent
};

// How one push to one channel ended.
struct PushResult {
    QString channel; // "ntfy" | "webhook"
    bool sent = false;
    bool kept = false;    // failed for now, kept to be sent again
    bool mayPass = false; // the failure may pass by itself
    QString error;        // why not, for the user
};
Q_DECLARE_METATYPE(PushResult)

// Posts notices to the configured push channels, each on a worker thread of its own, so neither
// the window, the poll, the mail nor another channel ever waits for one. A push that fails for a
// reason that may pass is kept, when retrying is on, one file each in a folder beside the
// outbox, and sent again with the outbox's waits (15 s, 30 s, 60 s, 2 min, then 5 min); kept
// pushes go to the channel's URL in force then, so a file never chooses where it goes.
// The folder is listed when retrying starts; from then on the kept pushes are known in memory,
// so a try costs the same whatever is kept. Each channel sends one kept push at a time; after a
// failure its others wait until the next try, so a server that is down gets one request a wave,
// and a 429 or 503 with Retry-After holds the channel that long (an hour at most).
class PushChannels : public QObject {
    Q_OBJECT
public:
    enum Channel { Ntfy, Webhook, ChannelCount };
    static constexpr const char* ChannelNames[] = {"ntfy", "webhook"};
    static constexpr int Capacity = 1000;
    // A server's Retry-After beyond this is taken as this: an alert must not wait for days.
    static constexpr int MaxRetryAfterS = 3600;

    // Kept pushes live in `folder` (folderFor(settingsPath)).
    explicit PushChannels(const QString& folder, QObject* parent = nullptr);
    // Gives up every push under way; those of alerts stay kept when retrying is on.
    ~PushChannels() override;

    // "<dir>/ZARVIK_Mail.ini" keeps its pushes in "<dir>/ZARVIK_Mail.pushbox".
    static QString folderFor(const QString& settingsPath);

    // Empty: that channel is off.
    void setUrl(Channel channel, const QString& url);
    QString url(Channel channel) const { return m_urls[channel]; }
    bool isConfigured() const;
    // Turning it on reads the folder again and tries every kept push at once.
    void setRetry(bool on);
    void setTimeouts(int connectMs, int totalMs);
    // Multiplies every wait between tries; tests shorten them.
    void setDelayScale(double scale) { m_scale = scale; }

    // One push per configured channel, each ending in one finished().
    void send(const PushNotice& notice);
    // The same, each ending in one testFinished(); never kept.
    void sendTest(const PushNotice& notice);
    // Closing: everything under way is given up at once, and nothing is tried again.
    void abort();

    // The kept pushes' files, as the folder holds them now.
    QStringList kept() const;

    // The requests as they go out (without the URL).
    static PushRequest ntfyRequest(const PushNotice& notice);
    static PushRequest webhookRequest(const PushNotice& notice);

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
    struct Kept {
        Channel channel;
        int attempt = 0; // failed tries since it was kept
        qint64 atMs = 0; // when it is due, on m_clock
    };
    // One channel's kept pushes, the next to try first.
    struct Lane {
        std::set<std::pair<qint64, QString>> queue; // (due, path)
        qint64 heldUntilMs = 0;                     // after a failure, or as the server asked
        qint64 askedUntilMs = 0;                    // as the server asked
        QString sending;                            // the kept push on its way
    };

    void start(Channel channel, Kind kind, PushRequest request, const QString& path = {});
    void done(quint64 id);
    bool keep(Channel channel, const PushRequest& request, QString* path, QString* error);
    void listKept();
    // A kept file that cannot be read is set aside as ".bad", and said.
    bool readOrSetAside(const QString& path, Channel* channel, PushRequest* request);
    void schedule(const QString& path, Kept& kept, qint64 atMs);
    void forget(const QString& path);
    // A failure that may pass: the channel waits, at least as long as its server asked.
    void hold(Channel channel, qint64 untilMs, int retryAfterS);
    void tryNext();

    QString m_folder;
    QString m_urls[ChannelCount];
    bool m_retry = false;
    bool m_closed = false;
    double m_scale = 1.0;
    int m_connectTimeoutMs = PushRequest::DefaultConnectTimeoutMs;
    int m_totalTimeoutMs = PushRequest::DefaultTotalTimeoutMs;
    quint64 m_nextId = 0;
    std::map<quint64, std::unique_ptr<Job>> m_jobs;
    bool m_listed = false;          // m_kept holds what the folder holds
    std::map<QString, Kept> m_kept; // by name, so oldest first
    Lane m_lanes[ChannelCount];
    QElapsedTimer m_clock;
    QTimer m_timer;
    int m_sentInARow = 0;
};
