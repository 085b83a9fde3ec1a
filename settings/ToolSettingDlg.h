#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;
class Memo;
class PasswordStore;
class RadioGroup;
class SettledText;

// The settings dialog. Its controls are the live configuration: the rest of the program reads
// them directly, so OK and Cancel both just close it and leave every edit in force.
// Each control's objectName equals its member name.
class TToolSettingDlg : public QDialog {
    Q_OBJECT

public:
    explicit TToolSettingDlg(QWidget* parent = nullptr);

    QFrame* Panel1;
    QTabWidget* PageCtrl1;

    QWidget* TabZARVIK;
    QLabel* Label1;
    QLineEdit* EdtPicAddr;
    QLabel* Label2;
    QLineEdit* EdtPicPort;
    QLabel* Label9;
    QLineEdit* EdtRdCycle;
    QLabel* Label10;

    QWidget* TabTemp;
    QCheckBox* ChkBoxUTemp;
    QLineEdit* EditUTemp;
    QLabel* Label7;
    Memo* MemoUTemp;
    QCheckBox* ChkBoxLTemp;
    QLineEdit* EditLTemp;
    QLabel* Label8;
    Memo* MemoLTemp;

    QWidget* TabSensor;
    RadioGroup* RGrpRB1;
    Memo* MemoChgRB1;
    RadioGroup* RGrpRB0;
    Memo* MemoChgRB0;

    QWidget* TabMAIL;
    QLabel* Label3;
    QLineEdit* EdtMailSrv;
    QLabel* Label4;
    QLineEdit* EdtMailId;
    QLabel* Label5;
    QLineEdit* EdtMailFrom;
    QLabel* Label6;
    QLineEdit* EdtMailTo;
    RadioGroup* RGrpPrty;
    QLabel* Label11;
    QLineEdit* EdtMailPass; // kept in the keyring, never in the settings file
    QLabel* Label12;
    QComboBox* CmbMailSec; // Auto, STARTTLS, SSL/TLS, None
    QPushButton* BtnTestMail;
    // Says that no keyring answers, so the password is kept for this run only.
    QLabel* LabelKeyring;
    // A PEM bundle trusted for the mail server besides the system's; set in the file only.
    QString MailCaFile;
    PasswordStore* Passwords;

    QWidget* TabWatch;
    QCheckBox* ChkBoxNoReply;
    QLineEdit* EditNoReplySec;
    QLabel* Label13;
    Memo* MemoNoReply;
    QCheckBox* ChkBoxRetry;
    // One CSV line per correct reply, in a daily file beside the settings file.
    QCheckBox* ChkBoxLog;
    QCheckBox* ChkBoxNotify;
    QLabel* Label14;
    QLineEdit* EdtMetrics; // "host:port" to serve /metrics on; empty for none

    // What the rules (and the metrics server) act on: these texts once their typing pauses.
    SettledText* SettledUTemp;
    SettledText* SettledLTemp;
    SettledText* SettledNoReplySec;
    SettledText* SettledMetrics;

    QFrame* Panel2;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* HelpBtn;
    // Says why the last input to a stored edit was refused.
    QLabel* LabelRefused;

    // Reads the password kept for the current server and user; it appears in EdtMailPass
    // unless something was typed there first.
    void loadPassword();
    // Keeps the password typed for the current server and user in the keyring.
    bool storePassword(QString* error = nullptr, int waitMs = 5000);

signals:
    // "テスト送信" was pressed: one mail with the settings as they stand now.
    void testMailRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildZarvikTab();
    void buildTempTab();
    void buildSensorTab();
    void buildMailTab();
    void buildWatchTab();
    void settleRuleTexts();
    void buildButtons();
    void guardStoredTexts();
    void showKeyringMissing(const QString& why);

    bool m_keyringAsked = false;
};
