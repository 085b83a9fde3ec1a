#include "monitor/PushOutlet.h"

#include "settings/Settings.h"

PushOutlet::PushOutlet(Settings& settings, const AlertWords& words, const QString& folder,
                       const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_words(words)
    , m_channels(new PushChannels(folder, clock, this))
{
    m_channels->setObjectName(QStringLiteral("PushChannels"));
    m_channels->setUrl(PushChannels::Ntfy, settings.text(Settings::PushNtfy));
    m_channels->setUrl(PushChannels::Webhook, settings.text(Settings::PushWebhook));
    followTelegram();
    m_channels->setRetry(settings.flag(Settings::Retry));
    connect(m_channels, &PushChannels::finished, this, &PushOutlet::finished);
    connect(m_channels, &PushChannels::testFinished, this, &PushOutlet::testFinished);
    connect(m_channels, &PushChannels::note, this, &PushOutlet::note);
    connect(&settings, &Settings::changed, this, [this](int key) {
        if (key == Settings::PushNtfy)
            m_channels->setUrl(PushChannels::Ntfy, m_settings.text(Settings::PushNtfy));
        else if (key == Settings::PushWebhook)
            m_channels->setUrl(PushChannels::Webhook, m_settings.text(Settings::PushWebhook));
        else if (key == Settings::PushTelegramToken || key == Settings::PushTelegramChat ||
                 key == Settings::PushTelegramApi)
            followTelegram();
        else if (key == Settings::Retry)
            m_channels->setRetry(m_settings.flag(Settings::Retry));
    });
}

void PushOutlet::followTelegram()
{
    m_channels->setTelegram(m_settings.text(Settings::PushTelegramToken),
                            m_settings.text(Settings::PushTelegramChat),
                            m_settings.text(Settings::PushTelegramApi));
}

PushNotice PushOutlet::notice(const QString& event, const AlertEvent& what) const
{
    PushNotice n;
    n.event = event;
    n.rules = what.rules;
    n.subject = what.subject.trimmed(); // the classic subject ends in a space
    n.message = what.message;
    n.priority = m_settings.number(Settings::Priority);
    n.reading = what.reading;
    n.board = AlertWords::board(m_settings.text(Settings::BoardAddress),
                                m_settings.text(Settings::BoardPort));
    n.timeMs = what.timeMs;
    const AlertWords::Text words = m_words.apply(what, n.board, {n.subject, n.message});
    if (m_words.isOwn(AlertWords::Subject))
        n.title = words.subject;
    if (m_words.isOwn(AlertWords::Body))
        n.body = words.body;
    return n;
}

void PushOutlet::take(const AlertEvent& event)
{
    if (!m_channels->isConfigured())
        return;
    switch (event.kind) {
    case AlertEvent::Kind::Alert:
        if (event.rules)
            m_channels->send(notice(QStringLiteral("alert"), event));
        break;
    case AlertEvent::Kind::Recovered:
        m_channels->send(notice(QStringLiteral("recovered"), event));
        break;
    case AlertEvent::Kind::Reminder:
        m_channels->send(notice(QStringLiteral("reminder"), event));
        break;
    case AlertEvent::Kind::Acknowledged:
        m_channels->send(notice(QStringLiteral("acknowledged"), event));
        break;
    }
}

void PushOutlet::sendTest(const Reading& reading, qint64 timeMs)
{
    AlertEvent test;
    test.subject = QStringLiteral("ZARVIK Mail test");
    test.message = tr("ZARVIK Mail からのテスト通知です。");
    test.reading = reading;
    test.timeMs = timeMs;
    m_channels->sendTest(notice(QStringLiteral("test"), test));
}

void PushOutlet::close()
{
    m_channels->abort();
}
