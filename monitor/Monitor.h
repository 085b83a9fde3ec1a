#pragma once

#include "alert/AlertRules.h"
#include "device/DeviceReadings.h"
#include "device/Reading.h"
#include "monitor/AlertWords.h"
#include "monitor/Outlet.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

class BoardSource;
class Clock;
class HistoryRecorder;
class IdlePass;
class MailOutlet;
class MailPassword;
class MailService;
class MetricsOutlet;
class HttpSites;
class MqttOutlet;
class WebOutlet;
class Outlet;
class PushChannels;
class PushOutlet;
class Settings;
struct AlertEvent;
struct MailResult;
struct PushResult;

// The watching itself, the same with a window or without: polls the board, runs the alert rules
// after each burst of events and hands what they found to every outlet (mail, push, desktop,
// metrics, and what the entry point adds), and feeds the history and the CSV log. A window or
// the service only shows what it says and asks it for what the user does. Failures a user must
// hear of come out of problem(), never as exceptions.
class Monitor : public QObject {
    Q_OBJECT
public:
    // The CSV log and the outbox lie beside `statePath`, named after it: the settings file's
    // path for the window, the same name in the state folder for the service. Without a chart
    // to show it, the day's trend need not be held in memory (LatestOnly).
    enum class Trend { Day, LatestOnly };
    Monitor(Settings& settings, const QString& statePath, const Clock& clock,
            Trend trend = Trend::Day, QObject* parent = nullptr);
    ~Monitor() override;

    // FormCreate's part: sends the first request (GetTemp), arms the rules (SendFlagClr) and
    // installs MainRoutine after each burst of events; polling goes on from there. Asks the
    // keyring for the mail password when there is a server to log in to, unless told not to.
    enum class Keyring { Ask, DoNotAsk };
    void start(Keyring keyring = Keyring::Ask);
    // Stops polling and passes; a mail under way is given up (kept, when retrying is on).
    void close();

    // One alert pass: after each burst of events.
    void MainRoutine();
    // Re-arms every rule ("Reset").
    void SendFlagClr();
    // A person has seen every fired rule: their reminders stop until they re-arm, and the
    // outlets that said them say so once. Returns the rules acknowledged (0: none had fired).
    quint8 acknowledge();
    // Fired rules nobody has acknowledged yet.
    quint8 unacknowledged() const { return m_unacknowledged; }
    // Fired rules, as firedChanged() said last.
    quint8 fired() const { return m_fired; }
    // Maintenance until `untilMs` on the wall clock, kept in the state folder; 0 or a time past
    // ends it, and each rule that fired meanwhile and still holds is told then. A mute that
    // cannot be kept holds for this run, and problem() says so.
    void muteUntil(qint64 untilMs);
    // 0 when not muted.
    qint64 mutedUntilMs() const { return m_mutedUntilMs; }
    // Takes the mute kept in the state folder: at start, and when a shell has changed it.
    void readMute();

    // One mail with the settings as they stand, answered by testMailFinished(), and one push
    // to each configured channel, each answered by testPushFinished().
    void sendTestMail();

    // An outlet of the entry point's own (the service log): it takes every event after the
    // monitor's outlets. Not owned.
    void addOutlet(Outlet* outlet);

    // Said when a server took mail without the login a password was set for.
    static QString withoutLoginNote();

    Settings& settings() const { return m_settings; }
    // The mail password's one owner: keyring, credential, typed.
    MailPassword& password() const { return *m_password; }
    HistoryRecorder& history() const { return *m_history; }
    // The port the metrics are served on; 0 while they are not.
    quint16 metricsPort() const;
    HttpSites& httpSites() const { return *m_http; }
    // Since the last correct reply, on the monitor's clock.
    qint64 msSinceLastReply() const;
    // Why the board cannot be asked now; empty when it can.
    QString currentLinkProblem() const;
    const IdlePass* idlePass() const { return m_idlePass; }
    const DeviceReadings& readings() const { return m_readings; }
    const AlertState& alertState() const { return m_alert; }
    const Clock& clock() const { return m_clock; }
    // The parts, for tests and benchmarks; the window and the service use the signals.
    BoardSource& source() const { return *m_source; }
    MailService& mail() const;
    PushChannels& push() const;
    // Says `text` for as long as `cause` holds, through lastingNote(); an empty text ends it
    // (and says nothing when nothing was said).
    void setLastingNote(const QString& cause, const QString& text);
    // What holds now, by cause: for a window that comes after it was said.
    const QMap<QString, QString>& lastingNotes() const { return m_lastingNotes; }

signals:
    // A request went to the board.
    void polled();
    // Why the board cannot be asked; empty once it can again.
    void linkProblem(const QString& why);
    // A correct reply, after the rules' readings took it in.
    void replyReceived(const Reading& reading);
    void wrongSizeReceived(const QByteArray& data);
    // A rule showed its message; the last one of a pass stays shown.
    void messageShown(const QString& message);
    // A pass fired `rules` (AlertRule bits); `message` is the one shown last, `subject` the
    // mail's.
    void rulesFired(quint8 rules, const QString& message, const QString& subject);
    // A fired rule re-armed by itself, or still holds at its reminder's time: `message` is shown
    // and mailed under `subject`. Every channel a notice goes out on hangs here.
    void noticeSent(NoticeKind kind, quint8 rules, const QString& subject, const QString& message);
    // An alert or test mail is queued or on the wire, or none is any more.
    void mailSending(bool sending);
    // An alert mail has ended (sent, kept, failed or given up).
    void alertMailFinished(const MailResult& result);
    // An alert mail could not be sent; `why` is what the user is told.
    void mailFailed(const QString& why);
    void testMailFinished(const MailResult& result);
    // An alert's push to one channel has ended (sent, kept or failed).
    void pushFinished(const PushResult& result);
    void testPushFinished(const PushResult& result);
    // Something the user must hear of at once: a bad limit text, offset or template (once it
    // comes into force, at the first pass after it did), a failed alert mail.
    void problem(const QString& text);
    // One line worth a glance (status bar, log).
    void note(const QString& text);
    // A problem that holds until said otherwise, by cause; an empty text ends it.
    void lastingNote(const QString& cause, const QString& text);
    // A person acknowledged `rules`; `subject` says which ("Acknowledged: Over 30C").
    void acknowledged(quint8 rules, const QString& subject, qint64 timeMs);
    void unacknowledgedChanged(quint8 rules);
    // The fired rules (AlertRule bits) are others now: a pass fired some, or they re-armed.
    void firedChanged(quint8 rules);
    // A person re-armed every rule (Reset), after the start.
    void rearmed();
    // Maintenance began, moved or (0) ended.
    void muteChanged(qint64 untilMs);
    // The MQTT broker took the connection, or lost or refused it (`why`); once per change.
    void mqttChanged(bool connected, const QString& why);

private:
    void takeReply(const Reading& reading);
    void followSettings(int key);
    // Puts the offset or a template in force, or its classic value when the text is refused:
    // why is told at the next pass, once.
    void takeOffset();
    void takeWords(AlertWords::Part part);
    void mailEnded(const MailResult& result);
    AlertEvent event(AlertEvent::Kind kind, quint8 rules, const QString& subject,
                     const QString& message) const;
    // Hands `event` to every outlet; during maintenance only to those that reach no person.
    void tell(AlertEvent event);
    void setMute(qint64 untilMs);
    // Each rule that fired during maintenance and still holds, told as one alert.
    void tellAfterMute();
    void followFiredRules();
    void pushEnded(const PushResult& result);

    Settings& m_settings;
    const Clock& m_clock;
    AlertWords m_words;       // [Mail] Subject and Body in force
    long double m_offset = 0; // [Temp] Offset in force, added to every reading
    QStringList m_toTell;     // refused offsets and templates, told at the next pass
    BoardSource* m_source;
    MailPassword* m_password;
    HistoryRecorder* m_history;
    MailOutlet* m_mail;
    PushOutlet* m_push;
    HttpSites* m_http;
    MetricsOutlet* m_metrics = nullptr;
    MqttOutlet* m_mqtt = nullptr;
    WebOutlet* m_web = nullptr;
    std::vector<Outlet*> m_outlets;
    std::vector<std::unique_ptr<Outlet>> m_ownOutlets;
    IdlePass* m_idlePass = nullptr;
    DeviceReadings m_readings;
    Reading m_lastReading; // timeMs 0 before the first
    AlertState m_alert;

    QString m_mutePath;
    QString m_statePath;
    qint64 m_mutedUntilMs = 0;
    quint8 m_untold = 0; // fired during maintenance, not told yet
    quint8 m_mailed = 0; // fired, and their alert was mailed
    quint8 m_unacknowledged = 0;
    quint8 m_fired = 0; // as last said

    QMap<QString, QString> m_lastingNotes;
    QString m_afterMail; // a bad seconds text, told once the pass's mail is over
    bool m_toldWithoutLogin = false;
    bool m_closed = false;
};
