#pragma once

#include "alert/AlertRules.h"
#include "device/DeviceReadings.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMap>
#include <QString>
#include <memory>

class QAction;
class QActionGroup;
class QCheckBox;
class QFrame;
class QHostAddress;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QTimer;
class IdlePass;
class OutboxSender;
class SmtpClient;
class TToolSettingDlg;
class UdpEndpoint;

// The main window: shows the board's readings, polls it on Timer1, runs the alert pass after
// each burst of events and mails what the pass collected.
class TFormZARVIK_Mail : public QMainWindow {
    Q_OBJECT
public:
    // `settingsPath` is the settings file beside the executable; creation runs FormCreate.
    explicit TFormZARVIK_Mail(const QString& settingsPath, QWidget* parent = nullptr);
    ~TFormZARVIK_Mail() override;

    // The settings dialog, created right after this window; from then on its controls are the
    // live configuration.
    void attachSettingsDialog(TToolSettingDlg* dialog);

    QString settingsPath() const { return m_settingsPath; }
    // Closes the window for a signal: nobody may be there to answer a box, so a failed save
    // goes to standard error instead, and the exit status becomes 1.
    void closeBySignal();
    int exitStatus() const { return m_exitStatus; }
    const DeviceReadings& readings() const { return m_readings; }
    const AlertState& alertState() const { return m_alert; }
    const IdlePass* idlePass() const { return m_idlePass; }
    quint16 udpLocalPort() const;
    // Since the last correct reply, or since start-up before the first; a steady clock.
    qint64 msSinceLastReply() const { return m_sinceReply.elapsed(); }
    // That clock itself, to be read on another thread from a copy.
    QElapsedTimer lastReplyClock() const { return m_sinceReply; }
    // Shows one line in the status bar for a while, over the reply dump.
    void showStatusNote(const QString& text);
    // Shows `text` beside the readings for as long as `cause` holds; an empty text ends it.
    void setLastingNote(const QString& cause, const QString& text);

    // Operations of the window.
    void GetTemp();
    void GetADC();
    void GetStatus();
    void SendMail();
    void SendFlagClr();
    void MainRoutine();

    // Components.
    QMenuBar* ActionMainMenuBar1;
    QActionGroup* ActionManager1;
    QAction* ToolSetting;
    QAction* FileExit1;
    QAction* ViewChart; // opens the trend window; the shell connects it
    QFrame* Bevel1;
    QLabel* Label1;
    QLabel* NowTemp;
    QLabel* Label7;
    QLabel* Label4;
    QCheckBox* ChkBoxPB1;
    QCheckBox* ChkBoxPB0;
    QLineEdit* EdtMessage;
    QPushButton* BtnReset;
    QLabel* LabelNotes; // lasting problems, see setLastingNote()
    QStatusBar* StatusBar1;
    QLabel* StatusPanel0 = nullptr;
    // "応答なし NN 秒" once no correct reply has come for StaleAfterMs.
    QLabel* StatusPanel1 = nullptr;
    int StaleAfterMs = 10000;
    UdpEndpoint* NMUDP1;
    std::unique_ptr<SmtpClient> NMSMTP1;
    std::unique_ptr<SmtpClient> m_testSmtp; // the settings dialog's test mail
    // Alert mails kept after a failure that may pass, and sent again.
    OutboxSender* MailOutbox = nullptr;
    QTimer* Timer1;

signals:
    // A correct reply has just been decoded into readings().
    void replyDecoded();
    // A datagram of the wrong size came instead of a reply.
    void wrongSizeReceived();
    // A pass fired `rules` (AlertRule bits); `message` is the one on the window, `subject` the
    // mail's (empty when the pass stopped before composing one).
    void rulesFired(quint8 rules, const QString& message, const QString& subject);
    // An alert mail could not be sent; `why` is what the user was told.
    void mailFailed(const QString& why);
    // The window is closing: what waits gives up.
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Event handlers.
    void FormCreate();
    void FormClose();
    void Timer1Timer();
    void NMUDP1DataReceived(const QByteArray& data, const QHostAddress& from, quint16 port);
    void BtnResetClick();
    void ToolSettingExecute();
    void NMSMTP1Connect();
    void NMSMTP1SendStart();
    void BtnTestMailClick();

    // Says once per run that a password was set but the server took mail without a login.
    void tellWithoutLogin();
    // Waits, serving events, while the keyring is still being asked for the mail password.
    void waitForPassword();
    // The dialog's mail settings as they stand now, for an alert or a test mail.
    void configureMail(SmtpClient& client) const;
    void setFinalHeaders(SmtpClient& client) const;

    void buildLink();
    void buildComponents();
    void buildMenu();
    void updateBoardAddress();
    void showLinkProblem(const QString& why);
    void updateStaleness();
    void announceFired(quint8 armedBefore);
    void buildOutbox();
    // Keeps the alert mail last composed when retrying is on; returns a line saying why it
    // could not be kept, or an empty string.
    QString keepMail();

    QString m_settingsPath;
    TToolSettingDlg* m_dialog = nullptr;
    IdlePass* m_idlePass = nullptr;
    DeviceReadings m_readings;
    QElapsedTimer m_sinceReply; // since the last correct reply, or since start-up
    AlertState m_alert;
    // Board address and port until the settings dialog exists.
    QString m_startAddress;
    QString m_startPort;
    QString m_linkProblem;
    QMap<QString, QString> m_lastingNotes; // by cause
    bool m_wrongSizeBoxOpen = false;
    bool m_toldWithoutLogin = false;
    bool m_closed = false;
    bool m_closingBySignal = false;
    int m_exitStatus = 0;
};
