// The main window's mail handlers: one mail for each alert pass that collected body text.

#include "alert/MailMessage.h"
#include "alert/SmtpClient.h"
#include "app/FormZARVIK_Mail.h"
#include "settings/RadioGroup.h"
#include "settings/ToolSettingDlg.h"

#include <QLineEdit>

void TFormZARVIK_Mail::SendMail()
{
    NMSMTP1->setHost(m_dialog->EdtMailSrv->text());
    NMSMTP1->setUserId(m_dialog->EdtMailId->text());
    NMSMTP1->connectToServer(); // the whole transaction is over when this returns
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
    NMSMTP1->finalHeaders().set(QStringLiteral("Content-Type"),
                                QString::fromLatin1(MailMessage::kContentType));
    static const char* const priorities[] = {"1", "3", "5"};
    const int index = m_dialog->RGrpPrty->itemIndex();
    if (index >= 0 && index < 3)
        NMSMTP1->finalHeaders().set(QStringLiteral("X-Priority"),
                                    QString::fromLatin1(priorities[index]));
}
