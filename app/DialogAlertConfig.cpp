#include "app/DialogAlertConfig.h"

#include "settings/Memo.h"
#include "settings/RadioGroup.h"
#include "settings/SettledText.h"
#include "settings/ToolSettingDlg.h"

#include <QCheckBox>
#include <QLineEdit>

DialogAlertConfig::DialogAlertConfig(const TToolSettingDlg& dialog, QLineEdit& messageEdit,
                                     qint64 msSinceLastReply)
    : m_dialog(dialog)
    , m_messageEdit(messageEdit)
    , m_msSinceLastReply(msSinceLastReply)
{
}

bool DialogAlertConfig::upperChecked() const
{
    return m_dialog.ChkBoxUTemp->isChecked();
}
QString DialogAlertConfig::upperLimitText() const
{
    return m_dialog.SettledUTemp->text();
}
QString DialogAlertConfig::upperMemo() const
{
    return m_dialog.MemoUTemp->text();
}
bool DialogAlertConfig::lowerChecked() const
{
    return m_dialog.ChkBoxLTemp->isChecked();
}
QString DialogAlertConfig::lowerLimitText() const
{
    return m_dialog.SettledLTemp->text();
}
QString DialogAlertConfig::lowerMemo() const
{
    return m_dialog.MemoLTemp->text();
}
int DialogAlertConfig::rb1Choice() const
{
    return m_dialog.RGrpRB1->itemIndex();
}
QString DialogAlertConfig::rb1Memo() const
{
    return m_dialog.MemoChgRB1->text();
}
int DialogAlertConfig::rb0Choice() const
{
    return m_dialog.RGrpRB0->itemIndex();
}
QString DialogAlertConfig::rb0Memo() const
{
    return m_dialog.MemoChgRB0->text();
}
bool DialogAlertConfig::noReplyChecked() const
{
    return m_dialog.ChkBoxNoReply->isChecked();
}
QString DialogAlertConfig::noReplySecondsText() const
{
    return m_dialog.SettledNoReplySec->text();
}
QString DialogAlertConfig::noReplyMemo() const
{
    return m_dialog.MemoNoReply->text();
}
qint64 DialogAlertConfig::msSinceLastReply() const
{
    return m_msSinceLastReply;
}
void DialogAlertConfig::showMessage(const QString& message)
{
    m_messageEdit.setText(message);
}
