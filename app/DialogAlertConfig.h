#pragma once

#include "alert/AlertRules.h"

class QLineEdit;
class TToolSettingDlg;

// The alert rules' view of the settings dialog: every value is read from its control at the
// moment the rule asks for it; the limit and seconds texts once their typing has paused.
class DialogAlertConfig : public AlertConfig {
public:
    DialogAlertConfig(const TToolSettingDlg& dialog, QLineEdit& messageEdit,
                      qint64 msSinceLastReply);

    bool upperChecked() const override;
    QString upperLimitText() const override;
    QString upperMemo() const override;
    bool lowerChecked() const override;
    QString lowerLimitText() const override;
    QString lowerMemo() const override;
    int rb1Choice() const override;
    QString rb1Memo() const override;
    int rb0Choice() const override;
    QString rb0Memo() const override;
    bool noReplyChecked() const override;
    QString noReplySecondsText() const override;
    QString noReplyMemo() const override;
    qint64 msSinceLastReply() const override;
    void showMessage(const QString& message) override;

private:
    const TToolSettingDlg& m_dialog;
    QLineEdit& m_messageEdit;
    qint64 m_msSinceLastReply;
};
