#pragma once

#include "device/BoardSource.h"

#include <QMainWindow>
#include <QMap>
#include <QMessageBox>
#include <QString>
#include <memory>

class QAction;
class QActionGroup;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QStatusBar;
class Monitor;
class MuteMenu;
class SendInputGate;
class TToolSettingDlg;
struct MailResult;
struct PushResult;
struct Reading;

// The main window: shows what the monitor reads and says, and asks it for what the user does
// (Reset, the settings, the test mail).
class TFormZARVIK_Mail : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormZARVIK_Mail(Monitor& monitor, QWidget* parent = nullptr);
    ~TFormZARVIK_Mail() override;

    // The settings dialog, opened by "設定(&T)".
    void attachSettingsDialog(TToolSettingDlg* dialog);

    // Closes the window for a signal: nobody may be there to answer a box.
    void closeBySignal();
    bool closingBySignal() const { return m_closingBySignal; }
    Monitor& monitor() const { return m_monitor; }
    // Shows one line in the status bar for a while, over the reply dump.
    void showStatusNote(const QString& text);
    // Shows `text` beside the readings for as long as `cause` holds; an empty text ends it.
    void setLastingNote(const QString& cause, const QString& text);
    // Lays out the rules' kind of message once in the message box's font, off screen: the
    // first alert's pass, which its mail waits for, would otherwise load those glyphs.
    void prepareMessageText() const;

    // Components.
    QMenuBar* ActionMainMenuBar1;
    QActionGroup* ActionManager1;
    QAction* ToolSetting;
    QAction* FileExit1;
    QAction* ViewChart;        // opens the trend window; the shell connects it
    QAction* WatchAcknowledge; // as BtnAck
    MuteMenu* MenuMute;
    QFrame* Bevel1;
    QLabel* Label1;
    QLabel* NowTemp;
    QLabel* Label7;
    QLabel* Label4;
    QCheckBox* ChkBoxPB1;
    QCheckBox* ChkBoxPB0;
    QLineEdit* EdtMessage;
    QPushButton* BtnReset;
    // Acknowledges every fired rule: their reminders stop. Enabled while one is unacknowledged.
    QPushButton* BtnAck;
    QLabel* LabelMute;  // "通知停止中: 14:30 まで" while muted
    QLabel* LabelNotes; // lasting problems, see setLastingNote()
    QStatusBar* StatusBar1;
    QLabel* StatusPanel0 = nullptr;
    // "応答なし NN 秒" once no correct reply has come for StaleAfterMs.
    QLabel* StatusPanel1 = nullptr;
    int StaleAfterMs = int(BoardSource::SilentAfterMs);

signals:
    // The window is closing: the shell saves the settings.
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Event handlers.
    void FormClose();
    void BtnResetClick();
    void ToolSettingExecute();
    void BtnTestMailClick();

    void buildComponents();
    void buildMenu();
    void follow();
    void showReply(const Reading& reading);
    void showWrongSize();
    void showTestMailResult(const MailResult& result);
    void showTestPushResult(const PushResult& result);
    void tellTestResult(QMessageBox::Icon icon, const QString& text);
    void queueBox(QMessageBox::Icon icon, const QString& caption, const QString& text);
    void showNextBox();
    void holdInputWhileSending(bool sending);
    void updateStaleness();
    void showMute(qint64 untilMs);

    Monitor& m_monitor;
    TToolSettingDlg* m_dialog = nullptr;
    std::unique_ptr<SendInputGate> m_inputGate;
    QMap<QString, QString> m_lastingNotes; // by cause
    bool m_wrongSizeBoxOpen = false;
    struct QueuedBox {
        QMessageBox::Icon icon;
        QString caption;
        QString text;
    };
    QList<QueuedBox> m_boxes; // results and problems waiting for their box
    bool m_boxOpen = false;
    bool m_closed = false;
    bool m_closingBySignal = false;
};
