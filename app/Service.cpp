#include "app/Service.h"

#include "app/ServiceLog.h"
#include "app/ServiceSettingsFile.h"
#include "app/SystemdNotify.h"
#include "app/UnixSignals.h"
#include "core/Clock.h"
#include "core/Credential.h"
#include "device/BoardProtocol.h"
#include "device/BoardSource.h"
#include "mail/MailService.h"
#include "monitor/MailPassword.h"
#include "monitor/Monitor.h"
#include "monitor/MqttPassword.h"
#include "monitor/Outlet.h"
#include "push/PushChannels.h"
#include "settings/Settings.h"
#include "settings/SettingsLocation.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>
#include <csignal>

using ServiceLog::Priority;

namespace {

// Datagrams of the wrong size are counted and told at most once a minute.
constexpr qint64 WrongSizeEveryMs = 60000;

void log(Priority priority, const QString& text)
{
    ServiceLog::write(priority, text);
}

QString ruleNames(quint8 rules)
{
    QStringList names;
    for (int i = 0; i < int(std::size(AlertRuleNames)); ++i) {
        if (rules & (1 << i))
            names << QString::fromLatin1(AlertRuleNames[i]);
    }
    return names.join(QStringLiteral(", "));
}

QString readingText(const Reading& reading)
{
    return QStringLiteral("%1 RB1 %2 RB0 %3")
        .arg(BoardProtocol::formatTemperature(reading.temperature).trimmed(),
             reading.rb1 ? QStringLiteral("H") : QStringLiteral("L"),
             reading.rb0 ? QStringLiteral("H") : QStringLiteral("L"));
}

// Secrets systemd hands over (LoadCredential=), so that the settings file in /etc, which the
// service's own user must be able to read, need not hold them. The status page's key is a file
// the service's user made at each start could not be given otherwise: its key names the
// credential's file.
struct PushCredential {
    const char* name;
    Settings::Key key;
    bool path = false;
};
constexpr PushCredential PushCredentials[] = {
    {"telegram-token", Settings::PushTelegramToken},
    {"push-webhook", Settings::PushWebhook},
    {"web-key", Settings::WebKeyFile, true},
};
constexpr qint64 MaxPushCredentialSize = 4096;

// Whether a keyring could answer: only where a session bus exists.
bool sessionBusLikely()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Alerts, recoveries, reminders and acknowledgements, each a line in the log.
class LogOutlet : public Outlet {
public:
    bool notifies() const override { return false; }
    void take(const AlertEvent& event) override
    {
        const QString muted = event.muted ? QStringLiteral(" - muted, no one notified") : QString();
        switch (event.kind) {
        case AlertEvent::Kind::Alert:
            if (event.rules)
                log(Priority::Warning,
                    QStringLiteral("%1: %2 (rules %3; subject \"%4\")%5")
                        .arg(event.late ? QStringLiteral("Alert after maintenance")
                                        : QStringLiteral("Alert"),
                             event.message, ruleNames(event.rules), event.subject.trimmed(),
                             muted));
            break;
        case AlertEvent::Kind::Acknowledged:
            log(Priority::Notice,
                QStringLiteral("%1 at %2 (rules %3)%4")
                    .arg(event.subject, timeText(event.timeMs), ruleNames(event.rules), muted));
            break;
        case AlertEvent::Kind::Recovered:
        case AlertEvent::Kind::Reminder: {
            const bool recovered = event.kind == AlertEvent::Kind::Recovered;
            log(recovered ? Priority::Notice : Priority::Warning,
                QStringLiteral("%1: %2 (rules %3; subject \"%4\")%5")
                    .arg(recovered ? QStringLiteral("Recovered") : QStringLiteral("Reminder"),
                         event.message, ruleNames(event.rules), event.subject, muted));
            break;
        }
        }
    }
};

} // namespace

Service::Service(const SettingsLocation& where, QObject* parent)
    : QObject(parent)
    , m_settingsPath(where.settingsPath)
    , m_statePath(where.statePath)
    , m_settings(std::make_unique<Settings>())
    , m_log(std::make_unique<LogOutlet>())
    , m_notify(new SystemdNotify(this))
    , m_settled(new SettledFile(this))
{
}

Service::~Service() = default;

bool Service::start(QString* error)
{
    // First, so that a signal sent while starting is taken up once the loop runs, never by the
    // default action.
    m_signals = new UnixSignals({SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2}, this);
    connect(m_signals, &UnixSignals::received, this, &Service::onSignal);
    if (!ServiceSettingsFile::read(m_settingsPath, {}, m_settings.get(), &m_keysInForce, error))
        return false;
    takePushCredentials();
    // The broker's password comes only from its credential: the service asks no keyring for it.
    {
        QString mqttWarning;
        MqttPassword(*m_settings)
            .takeCredential(qEnvironmentVariable("CREDENTIALS_DIRECTORY"), &mqttWarning);
        if (!mqttWarning.isEmpty())
            log(Priority::Warning, mqttWarning);
    }
    // No chart here: the CSV log keeps the day.
    m_monitor = std::make_unique<Monitor>(*m_settings, m_statePath, Clock::system(),
                                          Monitor::Trend::LatestOnly);
    QString warning;
    const bool credential = m_monitor->password().takeCredential(
        qEnvironmentVariable("CREDENTIALS_DIRECTORY"), &warning);
    if (!warning.isEmpty())
        log(Priority::Warning, warning);
    follow();
    m_monitor->start(!credential && sessionBusLikely() ? Monitor::Keyring::Ask
                                                       : Monitor::Keyring::DoNotAsk);
    log(Priority::Info,
        QStringLiteral("Watching the board at %1:%2; settings \"%3\", state \"%4\"")
            .arg(m_settings->text(Settings::BoardAddress), m_settings->text(Settings::BoardPort),
                 m_settingsPath, QFileInfo(m_statePath).path()));
    m_notify->status(QStringLiteral("waiting for the first reply"));
    m_notify->ready();
    return true;
}

void Service::takePushCredentials()
{
    const QString folder = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (folder.isEmpty())
        return;
    for (const PushCredential& credential : PushCredentials) {
        const QString name = QString::fromLatin1(credential.name);
        const Credential::Read file = Credential::read(folder, name, MaxPushCredentialSize);
        if (!file.present)
            continue;
        QString why = file.tooLarge
                          ? QStringLiteral("larger than %1 bytes").arg(MaxPushCredentialSize)
                          : file.error;
        QString value = !why.isEmpty()    ? QString()
                        : credential.path ? QDir(folder).filePath(name)
                                          : QString::fromUtf8(file.bytes).trimmed();
        if (why.isEmpty() && value.isEmpty())
            why = QStringLiteral("empty");
        if (!why.isEmpty()) {
            log(Priority::Warning, QStringLiteral("The credential %1 cannot be used (%2); %3 "
                                                  "stays as the settings file says")
                                       .arg(name, why, Settings::keyName(credential.key)));
            continue;
        }
        m_pushSecrets.insert(credential.key, value);
        m_settings->setValue(credential.key, value);
        log(Priority::Info, QStringLiteral("%1 is taken from the credential %2")
                                .arg(Settings::keyName(credential.key), name));
    }
}

void Service::follow()
{
    Monitor& monitor = *m_monitor;
    connect(&monitor, &Monitor::replyReceived, this, &Service::logReply);
    connect(&monitor, &Monitor::polled, this, &Service::checkSilence);
    connect(&monitor, &Monitor::linkProblem, this, [](const QString& why) {
        if (!why.isEmpty())
            log(Priority::Error, why);
    });
    connect(&monitor, &Monitor::wrongSizeReceived, this, [this] {
        ++m_wrongSizeUntold;
        logWrongSize();
    });
    monitor.addOutlet(m_log.get());
    connect(&monitor, &Monitor::problem, this,
            [](const QString& text) { log(Priority::Error, text); });
    connect(&monitor, &Monitor::note, this,
            [](const QString& text) { log(Priority::Notice, text); });
    connect(&monitor, &Monitor::lastingNote, this, [](const QString& cause, const QString& text) {
        if (text.isEmpty())
            log(Priority::Notice, QStringLiteral("The %1 problem is over").arg(cause));
        else
            log(Priority::Warning, text);
    });
    connect(&monitor, &Monitor::alertMailFinished, this, &Service::logAlertMail);
    connect(&monitor, &Monitor::muteChanged, this, [](qint64 untilMs) {
        if (untilMs)
            log(Priority::Notice, QStringLiteral("Muted until %1: alerts reach no one meanwhile")
                                      .arg(timeText(untilMs)));
        else
            log(Priority::Notice, QStringLiteral("Maintenance over: alerts go out again"));
    });
    // A failed or kept push is told as the monitor's problem or note.
    connect(&monitor, &Monitor::pushFinished, this, [](const PushResult& result) {
        if (result.sent)
            log(Priority::Info, QStringLiteral("Push sent to %1").arg(result.channel));
    });
}

void Service::logReply(const Reading& reading)
{
    if (std::exchange(m_silent, false))
        log(Priority::Notice,
            QStringLiteral("The board replies again: %1").arg(readingText(reading)));
    m_notify->status(readingText(reading));
}

void Service::checkSilence()
{
    const qint64 silentMs = m_monitor->msSinceLastReply();
    if (silentMs < BoardSource::SilentAfterMs)
        return;
    const QString text = QStringLiteral("no reply for %1 s").arg(silentMs / 1000);
    m_notify->status(text);
    if (!std::exchange(m_silent, true))
        log(Priority::Warning, QStringLiteral("The board is silent: %1").arg(text));
}

void Service::logWrongSize()
{
    const qint64 now = m_monitor->clock().steadyMs();
    if (m_wrongSizeToldMs != 0 && now - m_wrongSizeToldMs < WrongSizeEveryMs) {
        // The rest of this minute's are told when it is over.
        if (!std::exchange(m_wrongSizeTimer, true))
            QTimer::singleShot(WrongSizeEveryMs - (now - m_wrongSizeToldMs), this, [this] {
                m_wrongSizeTimer = false;
                if (m_wrongSizeUntold > 0)
                    logWrongSize();
            });
        return;
    }
    log(Priority::Warning,
        QStringLiteral("%1 datagram(s) of the wrong size came instead of a reply")
            .arg(std::exchange(m_wrongSizeUntold, 0)));
    m_wrongSizeToldMs = now;
}

void Service::logAlertMail(const MailResult& result)
{
    const QString to = m_settings->text(Settings::MailTo);
    if (result.sent)
        log(Priority::Info, QStringLiteral("Alert mail sent to %1").arg(to));
    else if (result.cancelled)
        log(Priority::Notice,
            result.kept ? QStringLiteral("Alert mail given up on stopping; kept for the next start")
                        : QStringLiteral("Alert mail given up on stopping"));
    else if (result.kept)
        log(Priority::Notice, QStringLiteral("Alert mail kept, to be sent again"));
    // A failure itself was told as the monitor's problem.
}

void Service::onSignal(int signalNumber)
{
    if (m_stopping)
        return;
    switch (signalNumber) {
    case SIGHUP:
        reload();
        return;
    case SIGUSR1:
        if (!m_monitor)
            return;
        m_monitor->SendFlagClr();
        log(Priority::Notice, QStringLiteral("Reset (SIGUSR1): every rule is armed again"));
        return;
    case SIGUSR2:
        // The acknowledgement itself is logged as an event.
        if (m_monitor && !m_monitor->acknowledge())
            log(Priority::Notice, QStringLiteral("Nothing to acknowledge (SIGUSR2)"));
        return;
    default:
        log(Priority::Notice, QStringLiteral("Stopping (%1)")
                                  .arg(signalNumber == SIGINT ? QStringLiteral("SIGINT")
                                                              : QStringLiteral("SIGTERM")));
        stop();
    }
}

void Service::reload()
{
    if (!m_monitor)
        return;
    // A shell may have set or ended a mute: taken at once, whatever the settings file holds.
    m_monitor->readMute();
    if (!m_settled->isWaiting())
        m_notify->reloading();
    // An editor may be writing the file at this moment: it is read once it has stopped changing.
    m_settled->wait(m_settingsPath, [this] { rereadSettings(); });
}

void Service::rereadSettings()
{
    // Read into a copy first: a file that cannot be taken leaves the settings in force alone.
    Settings fresh;
    QList<Settings::Key> keys;
    QString problem;
    if (!ServiceSettingsFile::read(m_settingsPath, m_keysInForce, &fresh, &keys, &problem)) {
        log(Priority::Error,
            QStringLiteral("%1; the settings in force stay (SIGHUP)").arg(problem));
    } else {
        for (int key = 0; key < Settings::KeyCount; ++key) {
            if (Settings::isStored(Settings::Key(key)))
                m_settings->setValue(Settings::Key(key), fresh.value(Settings::Key(key)));
        }
        m_keysInForce = keys;
        // Handed over once for the run: they stand whatever the file says.
        for (auto secret = m_pushSecrets.cbegin(); secret != m_pushSecrets.cend(); ++secret)
            m_settings->setValue(secret.key(), secret.value());
        log(Priority::Notice,
            QStringLiteral("Settings re-read from \"%1\" (SIGHUP)").arg(m_settingsPath));
    }
    m_notify->ready();
}

void Service::stop()
{
    m_stopping = true;
    m_settled->cancel();
    m_notify->stopping();
    // A mail under way is given up at once; kept, when retrying is on.
    if (m_monitor)
        m_monitor->close();
    emit finished(0);
}
