// The main window's mail handlers: one mail for each alert pass that collected body text, and
// the settings dialog's test mail.

#include "app/FormZARVIK_Mail.h"
#include "app/OwnMessageBox.h"
#include "app/SendInputGate.h"
#include "mail/MailAddress.h"
#include "mail/MailMessage.h"
#include "mail/OutboxSender.h"
#include "mail/SmtpClient.h"
#include "mail/SmtpError.h"
#include "settings/PasswordStore.h"
#include "settings/RadioGroup.h"
#include "settings/ToolSettingDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QEventLoop>
#include <QLineEdit>
#include <optional>
#include <utility>

namespace {

const QString WithoutLogin = QStringLiteral(
    "サーバーがログイン (AUTH) を受け付けないため、パスワードを使わずに送信しました。");

SmtpClient::Security security(const QComboBox& box)
{
    switch (box.currentIndex()) {
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

} // namespace

void TFormZARVIK_Mail::tellWithoutLogin()
{
    if (!std::exchange(m_toldWithoutLogin, true))
        showStatusNote(WithoutLogin);
}

void TFormZARVIK_Mail::waitForPassword()
{
    PasswordStore* passwords = m_dialog->Passwords;
    if (!passwords->isLoading())
        return;
    // The keyring answers within its own bound; polls and repaints go on meanwhile.
    QEventLoop loop;
    connect(passwords, &PasswordStore::answered, &loop, &QEventLoop::quit);
    connect(this, &TFormZARVIK_Mail::closing, &loop, &QEventLoop::quit);
    if (passwords->isLoading())
        loop.exec();
    if (!passwords->isAvailable())
        showStatusNote(
            QStringLiteral(
                "キーリングからパスワードを読めませんでした。パスワードなしで送信します: %1")
                .arg(passwords->unavailableWhy()));
}

void TFormZARVIK_Mail::configureMail(SmtpClient& client) const
{
    client.setExcludesUserInput(false); // SendInputGate holds it, letting closing through
    client.setHost(m_dialog->EdtMailSrv->text());
    client.setUserId(m_dialog->EdtMailId->text());
    client.setPassword(m_dialog->EdtMailPass->text());
    client.setSecurity(security(*m_dialog->CmbMailSec));
    client.setCaFile(m_dialog->MailCaFile);
}

void TFormZARVIK_Mail::buildOutbox()
{
    const auto session = [this](const ComposedMail& mail) {
        if (!m_dialog)
            throw SmtpError(QStringLiteral("No mail settings yet"));
        SmtpClient client;
        configureMail(client);
        return client.jobFor(mail);
    };
    MailOutbox = new OutboxSender(Outbox(Outbox::folderFor(m_settingsPath)), session, this);
    // A kept file goes only to addresses "To :" names now: a file edited, planted or left
    // from an older To is set aside rather than sent.
    MailOutbox->setEnvelopeCheck([this](const ComposedMail& mail, QString* error) {
        if (!m_dialog)
            return true; // no settings yet: the session refuses to start
        QList<QByteArray> configured;
        for (const QString& entry : MailAddress::splitList(m_dialog->EdtMailTo->text())) {
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
    });
    MailOutbox->setObjectName(QStringLiteral("MailOutbox"));
    // One mail on the wire at a time: an alert's or the test mail's goes first.
    MailOutbox->setHeld([this] {
        return NMSMTP1->isSending() || m_testSmtp->isSending() ||
               (m_dialog && m_dialog->Passwords->isLoading());
    });
    connect(MailOutbox, &OutboxSender::note, this, &TFormZARVIK_Mail::showStatusNote);
}

QString TFormZARVIK_Mail::keepMail()
{
    // Nobody left to try again: each recipient took the mail or refused it for good.
    if (!m_dialog || !m_dialog->ChkBoxRetry->isChecked() || NMSMTP1->lastMail().rcptTo.isEmpty())
        return {};
    QString error;
    int dropped = 0;
    QString path;
    if (!MailOutbox->outbox().keep(NMSMTP1->lastMail(), &error, &dropped, &path))
        return QStringLiteral("送信できなかったメールを保存できませんでした: %1").arg(error);
    if (dropped > 0)
        showStatusNote(
            QStringLiteral("保存できるメールは %1 通までです。古いメール %2 通を削除しました。")
                .arg(Outbox::DefaultCapacity)
                .arg(dropped));
    MailOutbox->mailKept(path);
    return {};
}

void TFormZARVIK_Mail::SendMail()
{
    const SendInputGate gate(ToolSetting);
    waitForPassword();
    if (m_closed)
        return;
    configureMail(*NMSMTP1);
    // A kept mail being sent again finishes first: one mail on the wire at a time.
    MailOutbox->waitUntilIdle();
    NMSMTP1->connectToServer(); // the whole transaction is over when this returns
    // Closing gave the mail up: kept, it goes out at the next start.
    if (NMSMTP1->lastMailCancelled())
        keepMail();
    if (NMSMTP1->lastMailWentWithoutLogin())
        tellWithoutLogin();
}

void TFormZARVIK_Mail::NMSMTP1Connect()
{
    NMSMTP1->setBody(m_alert.MailBody);
    NMSMTP1->addRecipient(m_dialog->EdtMailTo->text());
    NMSMTP1->setSender(m_dialog->EdtMailFrom->text());
    NMSMTP1->setSubject(m_alert.MailSubject);
    NMSMTP1->sendMail();
    NMSMTP1->disconnectFromServer();
}

void TFormZARVIK_Mail::NMSMTP1SendStart()
{
    setFinalHeaders(*NMSMTP1);
}

void TFormZARVIK_Mail::setFinalHeaders(SmtpClient& client) const
{
    client.finalHeaders().set(QStringLiteral("Content-Type"),
                              QString::fromLatin1(MailMessage::kContentType));
    static const char* const priorities[] = {"1", "3", "5"};
    const int index = m_dialog->RGrpPrty->itemIndex();
    if (index >= 0 && index < 3)
        client.finalHeaders().set(QStringLiteral("X-Priority"),
                                  QString::fromLatin1(priorities[index]));
}

void TFormZARVIK_Mail::BtnTestMailClick()
{
    // Its own client: an alert that fires meanwhile still gets its own mail.
    SmtpClient& client = *m_testSmtp;
    std::optional<SmtpError> failure;
    {
        // Input waits while the mail is on its way, not while its result is shown.
        const SendInputGate gate(ToolSetting);
        waitForPassword();
        if (m_closed)
            return;
        configureMail(client);
        client.setConnectedHandler([this, &client] {
            client.setBody(
                QStringLiteral("ZARVIK Mail からのテストメールです。\r\n送信日時: %1\r\n")
                    .arg(QDateTime::currentDateTime().toString(
                        QStringLiteral("yyyy/MM/dd hh:mm:ss"))));
            client.addRecipient(m_dialog->EdtMailTo->text());
            client.setSender(m_dialog->EdtMailFrom->text());
            client.setSubject(QStringLiteral("ZARVIK Mail test"));
            client.sendMail();
            client.disconnectFromServer();
        });
        client.setSendStartHandler([this, &client] { setFinalHeaders(client); });
        try {
            client.connectToServer();
        } catch (const SmtpError& e) {
            failure = e;
        }
    }
    if (m_closed)
        return;
    if (failure) {
        OwnMessageBox::show(QMessageBox::Warning, windowTitle(), failure->message());
        return;
    }
    QString sent = QStringLiteral("テストメールを送信しました。");
    if (client.lastMailWentWithoutLogin())
        sent += u'\n' + WithoutLogin;
    OwnMessageBox::show(QMessageBox::Information, windowTitle(), sent);
}
