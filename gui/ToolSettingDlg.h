#pragma once

#include "monitor/MailPassword.h"
#include "monitor/MqttPassword.h"
#include "settings/Settings.h"

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
class RadioGroup;
class SettledText;

// The settings dialog, bound to the settings object: each control shows its key's value and
// puts the user's edits into it, the rule texts once their typing pauses, every other control at
// once. So OK and Cancel both just close it and leave every edit in force. Nothing outside the
// dialog reads its controls; each control's objectName equals its member name.
class TToolSettingDlg : public QDialog {
    Q_OBJECT

public:
    TToolSettingDlg(Settings& settings, MailPassword& password, MqttPassword& mqttPassword,
                    QWidget* parent = nullptr);

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
    QLabel* Label40;
    QComboBox* CmbLanguage; // the system's, Japanese, English
    QLabel* Label41;        // when the choice takes effect

    QWidget* TabTemp;
    QCheckBox* ChkBoxUTemp;
    QLineEdit* EditUTemp;
    QLabel* Label7;
    Memo* MemoUTemp;
    QCheckBox* ChkBoxLTemp;
    QLineEdit* EditLTemp;
    QLabel* Label8;
    Memo* MemoLTemp;
    QLabel* Label25;
    QLineEdit* EditOffset; // degrees added to every reading, -20 to 20
    QLabel* Label26;

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
    QLineEdit* EdtMetrics;  // "host:port" to serve /metrics on; empty for none
    QCheckBox* ChkBoxReArm; // fired rules re-arm by themselves
    QLineEdit* EditReArmSec;
    QLabel* Label15;
    QLabel* Label16;
    QLineEdit* EditHysteresis;
    QLabel* Label17;
    QLabel* Label18;
    QLineEdit* EditRemindMin;
    QLabel* Label19;
    QLabel* LabelHold;
    QLineEdit* EditHoldSec; // whole seconds a condition holds before its rule fires
    QLabel* LabelHoldSec;
    QWidget* TabPush;
    QLabel* Label20;
    QLineEdit* EdtNtfy; // an ntfy topic URL; empty for none
    QLabel* Label21;
    QLineEdit* EdtWebhook; // a URL taking a JSON POST; empty for none
    QLabel* Label22;
    QLineEdit* EdtTelegramToken; // a bot's token, never shown; empty for none
    QLabel* Label23;
    QLineEdit* EdtTelegramChat; // a chat id or "@channel"
    QLabel* Label24;
    QLineEdit* EdtTelegramApi; // the Bot API's address; empty for Telegram's own
    // The user's own words for mail and push; empty for the classic texts.
    QWidget* TabWords;
    QLabel* Label27;
    QLineEdit* EdtSubject;
    QLabel* Label28;
    QLineEdit* EdtBody; // "\n" for a line break
    QLabel* LabelWords; // what the placeholders are
    // The MQTT broker and Home Assistant's discovery; the broker's CA file has no field.
    QWidget* TabMqtt;
    QLabel* Label29;
    QLineEdit* EdtMqttBroker; // "mqtt://host:port" or "mqtts://host:port"; empty for none
    QLabel* Label30;
    QLineEdit* EdtMqttUser;
    QLabel* Label31;
    QLineEdit* EdtMqttPass; // kept in the keyring, never in the settings file
    QLabel* Label32;
    QLineEdit* EdtMqttPrefix;
    QLabel* Label33;
    QLineEdit* EdtMqttNodeId;
    QCheckBox* ChkBoxMqttCommands; // Home Assistant's buttons offered and obeyed
    // The status page: where it listens, its login and its certificate.
    QWidget* TabWeb;
    QLabel* Label34;
    QLineEdit* EdtWebListen; // "host:port"; empty for no page
    QLabel* Label35;
    QLineEdit* EdtWebUser;
    QLabel* Label36;
    // Only ever a new password: the stored hash is never shown, OK keeps the hash of what was
    // typed, empty keeps the stored one.
    QLineEdit* EdtWebPass;
    QLabel* Label37;
    QLineEdit* EdtWebCert; // PEM certificate file
    QLabel* Label38;
    QLineEdit* EdtWebKey; // PEM private key file
    QLabel* Label39;      // who can reach the page without HTTPS and a login

    QFrame* Panel2;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* HelpBtn;
    // Says why the last input to a stored edit was refused.
    QLabel* LabelRefused;

    // Reads the password kept for the current server and user; it becomes MailPassword unless
    // something was typed first.
    void loadPassword();
    // Brings every rule text into the settings now, typed or set (the program closing).
    void settleTexts();
    // Keeps MailPassword and MqttPassword for the current servers and users in the keyring; the
    // passwords tell the outcome.
    void storePassword(int waitMs = PasswordStore::DefaultWaitMs);

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
    void buildPushTab();
    void buildWordsTab();
    void buildMqttTab();
    void buildWebTab();
    void buildButtons();
    void guardStoredTexts();
    void bindToSettings();
    void showKeyringMissing(const QString& why);
    void storeWebPassword();

    Settings& m_settings;
    MailPassword& m_password;
    MqttPassword& m_mqttPassword;
    // The rule texts (limits, no-reply seconds, metrics address, offset, own words) as they stand
    // once their typing pauses: what goes into the settings.
    SettledText* SettledUTemp;
    SettledText* SettledLTemp;
    SettledText* SettledNoReplySec;
    SettledText* SettledMetrics;
    SettledText* SettledReArmSec;
    SettledText* SettledHysteresis;
    SettledText* SettledRemindMin;
    SettledText* SettledHoldSec;
    SettledText* SettledNtfy;
    SettledText* SettledWebhook;
    SettledText* SettledTelegramToken;
    SettledText* SettledTelegramChat;
    SettledText* SettledTelegramApi;
    SettledText* SettledOffset;
    SettledText* SettledSubject;
    SettledText* SettledBody;
    SettledText* SettledMqttBroker;
    SettledText* SettledMqttUser;
    SettledText* SettledMqttPrefix;
    SettledText* SettledMqttNodeId;
    SettledText* SettledWebListen;
    SettledText* SettledWebUser;
    SettledText* SettledWebCert;
    SettledText* SettledWebKey;
    bool m_keyringAsked = false;
    bool m_mqttKeyringAsked = false;
};
