#include "mail/MailService.h"

#include "mail/MailAddress.h"
#include "mail/MailMessage.h"
#include "mail/Outbox.h"
#include "mail/OutboxSender.h"

#include <QDateTime>
#include <utility>

namespace {

SmtpClient::Security security(int index)
{
    switch (index) {
    case 1:
        return SmtpClient::Security::StartTls;
    case 2:
        return SmtpClient::Security::Tls;
    case 3:
        return SmtpClient::Security::None;
    default:
        return SmtpClient::Security::Auto;
    }
}

MailResult told(const SmtpResult& sent)
{
    MailResult result;
    result.sent = sent.sent;
    result.error = sent.error;
    result.mayPass = sent.mayPass;
    result.cancelled = sent.cancelled;
    result.withoutLogin = sent.withoutLogin;
    return result;
}

} // namespace

MailService::MailService(const QString& outboxFolder, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
    , NMSMTP1(new SmtpClient(this))
    , m_testSmtp(new SmtpClient(this))
{
    NMSMTP1->setObjectName(QStringLiteral("NMSMTP1"));
    NMSMTP1->setConnectedHandler([this] { NMSMTP1Connect(); });
    NMSMTP1->setSendStartHandler([this] { NMSMTP1SendStart(); });
    connect(NMSMTP1, &SmtpClient::finished, this, &MailService::alertSent);
    m_testSmtp->setConnectedHandler([this] { fillTest(); });
    m_testSmtp->setSendStartHandler([this] { setFinalHeaders(*m_testSmtp); });
    connect(m_testSmtp, &SmtpClient::finished, this, &MailService::testSent);

    const auto session = [this](const ComposedMail& mail, SmtpJob* job, QString* error) {
        SmtpClient client;
        configure(client);
        return client.jobFor(mail, job, error);
    };
    m_outbox = new OutboxSender(outboxFolder, session, clock, Outbox::DefaultCapacity, this);
    m_outbox->setObjectName(QStringLiteral("MailOutbox"));
    // A kept file goes only to addresses "To :" names now: a file edited, planted or left
    // from an older To is set aside rather than sent.
    m_outbox->setEnvelopeCheck([this](const ComposedMail& mail, QString* error) {
        return envelopeConfigured(mail, error);
    });
    // One mail on the wire at a time: an alert's or the test mail's goes first.
    m_outbox->setHeld([this] { return isSending() || m_heldForPassword; });
    connect(m_outbox, &OutboxSender::note, this, &MailService::note);
    // An alert waiting for a kept mail's try goes as soon as that ends.
    connect(m_outbox, &OutboxSender::idle, this, &MailService::pump);
}

MailService::~MailService() = default;

void MailService::setSettings(const MailSettings& settings)
{
    m_settings = settings;
    // Turned on, every kept mail is tried at once.
    m_outbox->setEnabled(settings.retry);
}

void MailService::setTimeouts(int connectMs, int totalMs)
{
    m_connectTimeoutMs = connectMs;
    m_totalTimeoutMs = totalMs;
}

void MailService::setHeldForPassword(bool held)
{
    m_heldForPassword = held;
    pump();
}

void MailService::sendAlert(const QString& subject, const QString& body)
{
    m_alerts.append({subject, body});
    pump();
    updateSending();
}

void MailService::sendTest(const QString& subject, const std::optional<QString>& body)
{
    m_tests.append({subject, body});
    pump();
    updateSending();
}

QString MailService::testSubject()
{
    return QStringLiteral("ZARVIK Mail test");
}

QString MailService::testMessage()
{
    return tr("ZARVIK Mail からのテストメールです。");
}

bool MailService::isSending() const
{
    return !m_alerts.isEmpty() || NMSMTP1->isSending() || !m_tests.isEmpty() ||
           m_testSmtp->isSending();
}

void MailService::configure(SmtpClient& client) const
{
    client.setHost(m_settings.server);
    client.setUserId(m_settings.user);
    client.setPassword(m_settings.password);
    client.setSecurity(security(m_settings.security));
    client.setCaFile(m_settings.caFile);
    client.setTimeouts(m_connectTimeoutMs, m_totalTimeoutMs);
}

bool MailService::envelopeConfigured(const ComposedMail& mail, QString* error) const
{
    QList<QByteArray> configured;
    for (const QString& entry : MailAddress::splitList(m_settings.to)) {
        MailAddress::Mailbox box;
        if (MailAddress::parse(entry, &box))
            configured.append(MailAddress::envelope(box));
    }
    for (const QByteArray& rcpt : mail.rcptTo) {
        if (!configured.contains(rcpt)) {
            *error = QStringLiteral("%1 is not among the recipients of \"To :\"")
                         .arg(QString::fromUtf8(rcpt));
            return false;
        }
    }
    return true;
}

void MailService::pump()
{
    if (m_heldForPassword)
        return;
    if (!m_tests.isEmpty() && !m_testSmtp->isSending()) {
        m_test = m_tests.takeFirst();
        configure(*m_testSmtp);
        m_testSmtp->connectToServer();
    }
    // A kept mail being sent again finishes first.
    if (!m_alerts.isEmpty() && !NMSMTP1->isSending() && !m_outbox->isSending()) {
        m_alert = m_alerts.takeFirst();
        configure(*NMSMTP1);
        NMSMTP1->connectToServer();
    }
    m_outbox->poke();
}

void MailService::NMSMTP1Connect()
{
    fillAlert();
    NMSMTP1->sendMail();
    NMSMTP1->disconnectFromServer();
}

void MailService::NMSMTP1SendStart()
{
    setFinalHeaders(*NMSMTP1);
}

void MailService::fillAlert()
{
    NMSMTP1->setBody(m_alert.body);
    NMSMTP1->addRecipient(m_settings.to);
    NMSMTP1->setSender(m_settings.from);
    NMSMTP1->setSubject(m_alert.subject);
}

void MailService::fillTest()
{
    m_testSmtp->setBody(
        m_test.body.value_or(testMessage() + QStringLiteral("\r\n") +
                             tr("送信日時: %1")
                                 .arg(QDateTime::fromMSecsSinceEpoch(m_clock.nowMs())
                                          .toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"))) +
                             QStringLiteral("\r\n")));
    m_testSmtp->addRecipient(m_settings.to);
    m_testSmtp->setSender(m_settings.from);
    m_testSmtp->setSubject(m_test.subject);
    m_testSmtp->sendMail();
    m_testSmtp->disconnectFromServer();
}

void MailService::setFinalHeaders(SmtpClient& client) const
{
    client.finalHeaders().set(QStringLiteral("Content-Type"),
                              QString::fromLatin1(MailMessage::kContentType));
    static const char* const priorities[] = {"1", "3", "5"};
    const int index = m_settings.priority;
    if (index >= 0 && index < 3)
        client.finalHeaders().set(QStringLiteral("X-Priority"),
                                  QString::fromLatin1(priorities[index]));
}

bool MailService::keep(const ComposedMail& mail, QString* error)
{
    // Nobody left to try again: each recipient took the mail or refused it for good.
    if (!m_settings.retry || mail.rcptTo.isEmpty())
        return false;
    QString why;
    int dropped = 0;
    QString path;
    if (!m_outbox->keep(mail, &why, &dropped, &path)) {
        if (error)
            *error = tr("送信できなかったメールを保存できませんでした: %1").arg(why);
        return false;
    }
    if (dropped > 0)
        emit note(tr("保存できるメールは %1 通までです。古いメール %n 通を削除しました。", nullptr,
                     dropped)
                      .arg(Outbox::DefaultCapacity));
    return true;
}

void MailService::alertSent(const SmtpResult& sent)
{
    MailResult result = told(sent);
    if (sent.cancelled) {
        // Given up on closing: kept, it goes out at the next start.
        result.kept = keep(sent.mail);
    } else if (!sent.sent && sent.mayPass) {
        QString notKept;
        result.kept = keep(sent.mail, &notKept);
        if (!notKept.isEmpty())
            result.error += u'\n' + notKept;
    }
    emit alertFinished(result);
    pump();
    updateSending();
}

void MailService::testSent(const SmtpResult& sent)
{
    emit testFinished(told(sent));
    pump();
    updateSending();
}

void MailService::abort()
{
    // No queued mail may start from the handlers of those given up here.
    const QList<Alert> queued = std::exchange(m_alerts, {});
    const qsizetype tests = std::exchange(m_tests, {}).size();
    NMSMTP1->abort();
    m_testSmtp->abort();
    m_outbox->abort();
    m_outbox->setEnabled(false);
    for (const Alert& alert : queued) {
        m_alert = alert;
        fillAlert();
        ComposedMail mail;
        QString error;
        MailResult result;
        result.cancelled = true;
        result.kept = NMSMTP1->composeMail(&mail, &error) && keep(mail);
        emit alertFinished(result);
    }
    for (qsizetype i = 0; i < tests; ++i) {
        MailResult result;
        result.cancelled = true;
        emit testFinished(result);
    }
    updateSending();
}

void MailService::updateSending()
{
    const bool sending = isSending();
    if (sending != m_wasSending) {
        m_wasSending = sending;
        emit sendingChanged(sending);
    }
}
