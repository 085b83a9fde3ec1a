#include "gui/FormZARVIK_Mail.h"

#include "core/Clock.h"
#include "device/BoardProtocol.h"
#include "device/BoardSource.h"
#include "gui/MuteMenu.h"
#include "gui/OwnMessageBox.h"
#include "gui/SendInputGate.h"
#include "gui/ToolSettingDlg.h"
#include "gui/UiFont.h"
#include "mail/MailService.h"
#include "monitor/Monitor.h"
#include "monitor/Mute.h"
#include "push/PushChannels.h"
#include "settings/Settings.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

namespace {

// The menu bar sits inside the client area of the window's layout; children are placed in
// client coordinates below it.
constexpr int MenuBarHeight = 29;
// How long a note stays over the reply dump: long enough to be read, short enough to let the
// dump come back.
constexpr int StatusNoteMs = 15000;

template <typename W>
W* place(QWidget* parent, const char* name, int x, int y, int w = -1, int h = -1)
{
    auto* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    if (w < 0) {
        widget->adjustSize();
        w = widget->width();
        h = widget->height();
    }
    widget->setGeometry(x, y - MenuBarHeight, w, h);
    return widget;
}

// Lets the window's menu shortcuts come before a text box's own editing keys: Ctrl+X ends the
// program even while the message box has the focus, where it would otherwise only cut text.
class MenuShortcutsFirst : public QObject {
public:
    MenuShortcutsFirst(QList<const QAction*> actions, QObject* parent)
        : QObject(parent)
        , m_actions(std::move(actions))
    {
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride)
            return false;
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (const QAction* action : std::as_const(m_actions)) {
            if (action->shortcut() == pressed) {
                event->ignore(); // not claimed: the shortcut map gets the keys
                return true;
            }
        }
        return false;
    }

private:
    QList<const QAction*> m_actions;
};

} // namespace

TFormZARVIK_Mail::TFormZARVIK_Mail(Monitor& monitor, QWidget* parent)
    : QMainWindow(parent)
    , m_monitor(monitor)
{
    setObjectName(QStringLiteral("FormZARVIK_Mail"));
    setAttribute(Qt::WA_QuitOnClose);
    move(monitor.settings().number(Settings::Left), monitor.settings().number(Settings::Top));
    buildComponents();
    buildMenu();
    follow();
}

TFormZARVIK_Mail::~TFormZARVIK_Mail() = default;

void TFormZARVIK_Mail::follow()
{
    Monitor& monitor = m_monitor;
    connect(&monitor, &Monitor::replyReceived, this, &TFormZARVIK_Mail::showReply);
    connect(&monitor, &Monitor::wrongSizeReceived, this, &TFormZARVIK_Mail::showWrongSize);
    connect(&monitor, &Monitor::polled, this, &TFormZARVIK_Mail::updateStaleness);
    connect(&monitor, &Monitor::linkProblem, StatusPanel0, &QLabel::setText);
    connect(&monitor, &Monitor::messageShown, EdtMessage, &QLineEdit::setText);
    connect(&monitor, &Monitor::note, this, &TFormZARVIK_Mail::showStatusNote);
    for (auto note = monitor.lastingNotes().cbegin(); note != monitor.lastingNotes().cend(); ++note)
        setLastingNote(note.key(), note.value());
    connect(&monitor, &Monitor::lastingNote, this, &TFormZARVIK_Mail::setLastingNote);
    // Like every box that a mail's or a push's result opens, after the signal that carried it:
    // a box opened inside it would wait on input held until the mail is over, for ever.
    connect(&monitor, &Monitor::problem, this, [this](const QString& text) {
        queueBox(QMessageBox::Critical, QCoreApplication::applicationName(), text);
    });
    // Shown once the mail is over, so that the held input goes to the box, not before it.
    connect(&monitor, &Monitor::testMailFinished, this, &TFormZARVIK_Mail::showTestMailResult);
    connect(&monitor, &Monitor::testPushFinished, this, &TFormZARVIK_Mail::showTestPushResult);
    connect(&monitor, &Monitor::mailSending, this, &TFormZARVIK_Mail::holdInputWhileSending);
    BtnAck->setEnabled(monitor.unacknowledged() != 0);
    connect(&monitor, &Monitor::unacknowledgedChanged, BtnAck,
            [this](quint8 rules) { BtnAck->setEnabled(rules != 0); });
    connect(&monitor, &Monitor::acknowledged, this,
            [this](quint8, const QString& subject, qint64 timeMs) {
                showStatusNote(
                    QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("HH:mm:ss ")) +
                    subject);
            });
    showMute(monitor.mutedUntilMs());
    connect(&monitor, &Monitor::muteChanged, this, &TFormZARVIK_Mail::showMute);
    connect(MenuMute, &MuteMenu::refused, this, [this](const QString& why) {
        queueBox(QMessageBox::Warning, QCoreApplication::applicationName(), why);
    });
}

void TFormZARVIK_Mail::showMute(qint64 untilMs)
{
    LabelMute->setVisible(untilMs != 0);
    if (untilMs)
        LabelMute->setText(tr("通知停止中: %1 まで")
                               .arg(Mute::untilText(untilMs, QDateTime::fromMSecsSinceEpoch(
                                                                 m_monitor.clock().nowMs()))));
}

void TFormZARVIK_Mail::prepareMessageText() const
{
    // Each drawn as the box shows it, scrolled to its end.
    const QString samples[] = {
        QStringLiteral("温度が 31.5℃を超えました。"),
        QStringLiteral("温度が 28.0℃より下がりました。"),
        QStringLiteral("応答がありません (60秒)"),
        QStringLiteral("RB1が\"H\"になりました"),
        QStringLiteral("RB0が\"L\"になりました"),
    };
    QLineEdit scratch;
    scratch.setFont(EdtMessage->font());
    scratch.resize(EdtMessage->size());
    for (const QString& text : samples) {
        scratch.setText(text);
        scratch.grab();
    }
}

void TFormZARVIK_Mail::buildComponents()
{
    setWindowTitle(QStringLiteral("ZARVIK Mail"));
    setFont(uiFont(12));
    resize(342, 223); // 350 x 250 with the frame

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    setCentralWidget(client);

    Bevel1 = place<QFrame>(client, "Bevel1", 8, 40, 145, 145);
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Label1 = place<QLabel>(client, "Label1", 24, 48, 100, 18);
    Label1->setText(tr("Temp:"));
    Label1->setFont(uiFont(14, true));
    NowTemp = place<QLabel>(client, "NowTemp", 48, 72, 100, 16);
    NowTemp->setText(tr("Now"));
    NowTemp->setFont(uiFont(12, true));
    Label7 = place<QLabel>(client, "Label7", 24, 104, 100, 18);
    Label7->setText(tr("Sensor"));
    Label7->setFont(uiFont(14, true));
    Label4 = place<QLabel>(client, "Label4", 24, 128, 20, 16);
    ChkBoxPB1 = place<QCheckBox>(client, "ChkBoxPB1", 48, 128, 97, 17);
    ChkBoxPB1->setText(QStringLiteral("PB1"));
    ChkBoxPB1->setEnabled(false);
    ChkBoxPB0 = place<QCheckBox>(client, "ChkBoxPB0", 48, 152, 97, 17);
    ChkBoxPB0->setText(QStringLiteral("PB0"));
    ChkBoxPB0->setEnabled(false);
    EdtMessage = place<QLineEdit>(client, "EdtMessage", 168, 88, 169, 20);
    BtnReset = place<QPushButton>(client, "BtnReset", 216, 144, 75, 25);
    BtnReset->setText(tr("Reset"));
    connect(BtnReset, &QPushButton::clicked, this, &TFormZARVIK_Mail::BtnResetClick);
    BtnAck = place<QPushButton>(client, "BtnAck", 294, 144, 44, 25);
    BtnAck->setText(tr("確認"));
    BtnAck->setToolTip(tr("アラートを確認済みにする (Ctrl+K): 催促を止めます"));
    connect(BtnAck, &QPushButton::clicked, this, [this] { m_monitor.acknowledge(); });
    LabelMute = place<QLabel>(client, "LabelMute", 168, 116, 169, 20);
    LabelMute->setStyleSheet(QStringLiteral("QLabel { color: #0050a0; }"));
    LabelMute->hide();
    // What stays wrong (metrics off, CSV not written), in the free corner under Reset rather
    // than over the reply dump, for as long as it holds.
    LabelNotes = place<QLabel>(client, "LabelNotes", 160, 172, 178, 32);
    LabelNotes->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LabelNotes->setStyleSheet(QStringLiteral("QLabel { color: #b00000; }"));
    LabelNotes->hide();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(19);
    StatusBar1->setSizeGripEnabled(true);
    // One panel; it runs to the bar's right end so the whole reply dump can be read.
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusPanel0->setMinimumWidth(50);
    StatusPanel0->setText(m_monitor.currentLinkProblem()); // met by the first request
    StatusBar1->addWidget(StatusPanel0, 1);
    StatusPanel1 = new QLabel(StatusBar1);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusBar1->addPermanentWidget(StatusPanel1);
    StatusPanel1->hide();
    setStatusBar(StatusBar1);
}

void TFormZARVIK_Mail::buildMenu()
{
    ActionManager1 = new QActionGroup(this);
    ActionManager1->setObjectName(QStringLiteral("ActionManager1"));
    ActionManager1->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);

    ToolSetting = new QAction(tr("設定(&T)"), ActionManager1);
    ToolSetting->setObjectName(QStringLiteral("ToolSetting"));
    ToolSetting->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(ToolSetting, &QAction::triggered, this, &TFormZARVIK_Mail::ToolSettingExecute);

    FileExit1 = new QAction(tr("終了(&X)"), ActionManager1);
    FileExit1->setObjectName(QStringLiteral("FileExit1"));
    FileExit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    FileExit1->setMenuRole(QAction::QuitRole);
    // Short hint before the bar, long hint after it; the window shows hints nowhere itself.
    FileExit1->setToolTip(tr("終了"));
    FileExit1->setWhatsThis(tr("アプリケーションを終了する"));
    connect(FileExit1, &QAction::triggered, this, &QWidget::close);

    ViewChart = new QAction(tr("グラフ(&G)"), ActionManager1);
    ViewChart->setObjectName(QStringLiteral("ViewChart"));
    ViewChart->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));

    ActionMainMenuBar1 = new QMenuBar(this);
    ActionMainMenuBar1->setObjectName(QStringLiteral("ActionMainMenuBar1"));
    ActionMainMenuBar1->setFont(uiFont(12));
    ActionMainMenuBar1->setFixedHeight(MenuBarHeight);
    QMenu* fileMenu = ActionMainMenuBar1->addMenu(tr("ファイル(&F)"));
    fileMenu->setObjectName(QStringLiteral("MenuFile"));
    fileMenu->addAction(ToolSetting);
    fileMenu->addAction(FileExit1);
    QMenu* viewMenu = ActionMainMenuBar1->addMenu(tr("表示(&V)"));
    viewMenu->setObjectName(QStringLiteral("MenuView"));
    viewMenu->addAction(ViewChart);

    WatchAcknowledge = new QAction(tr("アラートを確認(&A)"), ActionManager1);
    WatchAcknowledge->setObjectName(QStringLiteral("WatchAcknowledge"));
    WatchAcknowledge->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    connect(WatchAcknowledge, &QAction::triggered, this, [this] { m_monitor.acknowledge(); });
    QMenu* watchMenu = ActionMainMenuBar1->addMenu(tr("監視(&W)"));
    watchMenu->setObjectName(QStringLiteral("MenuWatch"));
    watchMenu->addAction(WatchAcknowledge);
    MenuMute = new MuteMenu(m_monitor, watchMenu);
    watchMenu->addMenu(MenuMute);
    setMenuBar(ActionMainMenuBar1);
    // Shortcuts work whether or not the menu is open.
    addAction(ToolSetting);
    addAction(FileExit1);
    addAction(ViewChart);
    addAction(WatchAcknowledge);
    EdtMessage->installEventFilter(
        new MenuShortcutsFirst({ToolSetting, FileExit1, ViewChart, WatchAcknowledge}, EdtMessage));
}

void TFormZARVIK_Mail::attachSettingsDialog(TToolSettingDlg* dialog)
{
    m_dialog = dialog;
    connect(dialog, &TToolSettingDlg::testMailRequested, this, &TFormZARVIK_Mail::BtnTestMailClick);
}

void TFormZARVIK_Mail::showStatusNote(const QString& text)
{
    StatusBar1->showMessage(text, StatusNoteMs);
}

void TFormZARVIK_Mail::setLastingNote(const QString& cause, const QString& text)
{
    if (text.isEmpty())
        m_lastingNotes.remove(cause);
    else
        m_lastingNotes.insert(cause, text);
    // A line each, shortened in the middle so that what and why both show; the whole text is
    // at hand as the tooltip.
    const QFontMetrics metrics(LabelNotes->font());
    QStringList lines;
    for (const QString& note : std::as_const(m_lastingNotes))
        lines << metrics.elidedText(note, Qt::ElideMiddle, LabelNotes->width());
    LabelNotes->setText(lines.join(u'\n'));
    LabelNotes->setToolTip(m_lastingNotes.values().join(u'\n'));
    LabelNotes->setVisible(!lines.isEmpty());
}

void TFormZARVIK_Mail::closeEvent(QCloseEvent* event)
{
    FormClose();
    QMainWindow::closeEvent(event);
}

void TFormZARVIK_Mail::FormClose()
{
    if (std::exchange(m_closed, true))
        return;
    m_inputGate.reset();
    emit closing();
}

void TFormZARVIK_Mail::closeBySignal()
{
    m_closingBySignal = true;
    // A modal dialog or box that is open would keep its own loop running: close it first.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (!modal->close())
            break;
    }
    close();
}

void TFormZARVIK_Mail::updateStaleness()
{
    const qint64 silentMs = m_monitor.msSinceLastReply();
    const bool stale = silentMs >= StaleAfterMs;
    if (stale)
        StatusPanel1->setText(tr("応答なし %n 秒", nullptr, int(silentMs / 1000)));
    StatusPanel1->setVisible(stale);
    NowTemp->setEnabled(!stale);
}

void TFormZARVIK_Mail::showReply(const Reading& reading)
{
    StatusPanel0->setText(BoardProtocol::statusText(reading.raw));
    updateStaleness();
    NowTemp->setText(BoardProtocol::formatTemperature(reading.temperature));
    ChkBoxPB1->setChecked(reading.rb1);
    ChkBoxPB0->setChecked(reading.rb0);
}

void TFormZARVIK_Mail::showWrongSize()
{
    // One box at a time: a flood of bad datagrams must not stack boxes without bound.
    if (m_wrongSizeBoxOpen)
        return;
    m_wrongSizeBoxOpen = true;
    OwnMessageBox::show(QMessageBox::NoIcon, tr("受信したデータに誤りがあります"),
                        tr("データ数が一致しません"));
    m_wrongSizeBoxOpen = false;
}

void TFormZARVIK_Mail::BtnResetClick()
{
    m_monitor.SendFlagClr();
}

void TFormZARVIK_Mail::ToolSettingExecute()
{
    if (m_dialog)
        m_dialog->exec(); // the result is not used: every edit is in force already
}

void TFormZARVIK_Mail::BtnTestMailClick()
{
    m_monitor.sendTestMail();
}

void TFormZARVIK_Mail::showTestMailResult(const MailResult& result)
{
    if (m_closed)
        return;
    if (!result.sent) {
        tellTestResult(QMessageBox::Warning, result.error);
        return;
    }
    QString sent = tr("テストメールを送信しました。");
    if (result.withoutLogin)
        sent += u'\n' + Monitor::withoutLoginNote();
    tellTestResult(QMessageBox::Information, sent);
}

void TFormZARVIK_Mail::showTestPushResult(const PushResult& result)
{
    if (m_closed)
        return;
    if (result.sent)
        tellTestResult(QMessageBox::Information,
                       tr("%1 にテスト通知を送信しました。").arg(result.channel));
    else
        tellTestResult(
            QMessageBox::Warning,
            tr("%1 にテスト通知を送信できませんでした: %2").arg(result.channel, result.error));
}

void TFormZARVIK_Mail::tellTestResult(QMessageBox::Icon icon, const QString& text)
{
    queueBox(icon, windowTitle(), text);
}

void TFormZARVIK_Mail::queueBox(QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    m_boxes.append({icon, caption, text});
    // Shown once the mail is over (the held input then goes to the box), one box after another.
    QMetaObject::invokeMethod(this, &TFormZARVIK_Mail::showNextBox, Qt::QueuedConnection);
}

void TFormZARVIK_Mail::showNextBox()
{
    if (m_boxOpen || m_boxes.isEmpty() || m_closed)
        return;
    const QueuedBox box = m_boxes.takeFirst();
    m_boxOpen = true;
    OwnMessageBox::show(box.icon, box.caption, box.text);
    m_boxOpen = false;
    if (!m_boxes.isEmpty())
        QMetaObject::invokeMethod(this, &TFormZARVIK_Mail::showNextBox, Qt::QueuedConnection);
}

void TFormZARVIK_Mail::holdInputWhileSending(bool sending)
{
    // Nothing may start another mail or change the settings under one; closing goes through.
    if (sending && !m_closed)
        m_inputGate = std::make_unique<SendInputGate>(ToolSetting);
    else
        m_inputGate.reset();
}
