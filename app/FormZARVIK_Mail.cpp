#include "app/FormZARVIK_Mail.h"

#include "app/DialogAlertConfig.h"
#include "app/IdlePass.h"
#include "app/OwnMessageBox.h"
#include "device/BoardProtocol.h"
#include "device/UdpEndpoint.h"
#include "mail/OutboxSender.h"
#include "mail/SmtpClient.h"
#include "mail/SmtpError.h"
#include "settings/PasswordStore.h"
#include "settings/SettingsStore.h"
#include "settings/ToolSettingDlg.h"
#include "settings/UiFont.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>

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

TFormZARVIK_Mail::TFormZARVIK_Mail(const QString& settingsPath, QWidget* parent)
    : QMainWindow(parent)
    , m_settingsPath(settingsPath)
{
    setObjectName(QStringLiteral("FormZARVIK_Mail"));
    setAttribute(Qt::WA_QuitOnClose);
    // The link and the clock first, so that the first request goes out before the widgets are
    // built: laying out text loads the fonts, which takes longer than everything else here.
    buildLink();
    buildOutbox();
    FormCreate();
    buildComponents();
    buildMenu();
}

TFormZARVIK_Mail::~TFormZARVIK_Mail() = default;

void TFormZARVIK_Mail::buildLink()
{
    m_sinceReply.start();
    NMUDP1 = new UdpEndpoint(this);
    NMUDP1->setObjectName(QStringLiteral("NMUDP1"));
    NMUDP1->onDataReceived = [this](const QByteArray& data, const QHostAddress& from,
                                    quint16 port) { NMUDP1DataReceived(data, from, port); };
    NMUDP1->onProblem = [this](const QString& why) { showLinkProblem(why); };

    NMSMTP1 = std::make_unique<SmtpClient>();
    NMSMTP1->setConnectedHandler([this] { NMSMTP1Connect(); });
    NMSMTP1->setSendStartHandler([this] { NMSMTP1SendStart(); });
    m_testSmtp = std::make_unique<SmtpClient>();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, &TFormZARVIK_Mail::Timer1Timer);
    Timer1->start();
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
    Label1->setText(QStringLiteral("Temp:"));
    Label1->setFont(uiFont(14, true));
    NowTemp = place<QLabel>(client, "NowTemp", 48, 72, 100, 16);
    NowTemp->setText(QStringLiteral("Now"));
    NowTemp->setFont(uiFont(12, true));
    Label7 = place<QLabel>(client, "Label7", 24, 104, 100, 18);
    Label7->setText(QStringLiteral("Sensor"));
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
    BtnReset->setText(QStringLiteral("Reset"));
    connect(BtnReset, &QPushButton::clicked, this, &TFormZARVIK_Mail::BtnResetClick);
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
    StatusPanel0->setText(m_linkProblem); // a problem met by the first request
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

    ToolSetting = new QAction(QStringLiteral("設定(&T)"), ActionManager1);
    ToolSetting->setObjectName(QStringLiteral("ToolSetting"));
    ToolSetting->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(ToolSetting, &QAction::triggered, this, &TFormZARVIK_Mail::ToolSettingExecute);

    FileExit1 = new QAction(QStringLiteral("終了(&X)"), ActionManager1);
    FileExit1->setObjectName(QStringLiteral("FileExit1"));
    FileExit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    FileExit1->setMenuRole(QAction::QuitRole);
    // Short hint before the bar, long hint after it; the window shows hints nowhere itself.
    FileExit1->setToolTip(QStringLiteral("終了"));
    FileExit1->setWhatsThis(QStringLiteral("アプリケーションを終了する"));
    connect(FileExit1, &QAction::triggered, this, &QWidget::close);

    ViewChart = new QAction(QStringLiteral("グラフ(&G)"), ActionManager1);
    ViewChart->setObjectName(QStringLiteral("ViewChart"));
    ViewChart->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));

    ActionMainMenuBar1 = new QMenuBar(this);
    ActionMainMenuBar1->setObjectName(QStringLiteral("ActionMainMenuBar1"));
    ActionMainMenuBar1->setFont(uiFont(12));
    ActionMainMenuBar1->setFixedHeight(MenuBarHeight);
    QMenu* fileMenu = ActionMainMenuBar1->addMenu(QStringLiteral("ファイル(&F)"));
    fileMenu->setObjectName(QStringLiteral("MenuFile"));
    fileMenu->addAction(ToolSetting);
    fileMenu->addAction(FileExit1);
    QMenu* viewMenu = ActionMainMenuBar1->addMenu(QStringLiteral("表示(&V)"));
    viewMenu->setObjectName(QStringLiteral("MenuView"));
    viewMenu->addAction(ViewChart);
    setMenuBar(ActionMainMenuBar1);
    // Shortcuts work whether or not the menu is open.
    addAction(ToolSetting);
    addAction(FileExit1);
    addAction(ViewChart);
    EdtMessage->installEventFilter(
        new MenuShortcutsFirst({ToolSetting, FileExit1, ViewChart}, EdtMessage));
}

void TFormZARVIK_Mail::FormCreate()
{
    const SettingsStore::StartupSettings startup = SettingsStore::loadStartup(m_settingsPath);
    move(startup.position);
    m_startAddress = startup.boardAddress;
    m_startPort = startup.boardPort;
    GetTemp();
    SendFlagClr();
    m_idlePass = new IdlePass([this] { MainRoutine(); }, this);
}

void TFormZARVIK_Mail::attachSettingsDialog(TToolSettingDlg* dialog)
{
    m_dialog = dialog;
    connect(dialog, &TToolSettingDlg::testMailRequested, this, &TFormZARVIK_Mail::BtnTestMailClick);
    // Kept mails go out at start-up and whenever retrying is turned on.
    const auto retry = [this](bool on) {
        MailOutbox->setEnabled(on);
        MailOutbox->tryAfter(0);
    };
    connect(dialog->ChkBoxRetry, &QCheckBox::toggled, this, retry);
    retry(dialog->ChkBoxRetry->isChecked());
}

quint16 TFormZARVIK_Mail::udpLocalPort() const
{
    return NMUDP1->localPort();
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
    if (m_closed)
        return;
    m_closed = true;
    emit closing();
    Timer1->stop();
    // A mail under way is given up, so that closing never waits on a mail server.
    NMSMTP1->abort();
    m_testSmtp->abort();
    MailOutbox->abort();
    if (!m_dialog)
        return;
    QString error;
    SettingsStore::saveAll(m_settingsPath, pos(), *m_dialog, &error);
    // Without a keyring the password was for this run only, as the dialog said.
    QString keyringError;
    // Closing must not wait long: the dialog kept the password when it closed.
    if (!m_dialog->storePassword(&keyringError, 1500) && m_dialog->Passwords->isAvailable())
        error += (error.isEmpty() ? QString() : QStringLiteral("\n")) + keyringError;
    if (error.isEmpty())
        return;
    if (m_closingBySignal) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        m_exitStatus = 1;
        return;
    }
    OwnMessageBox::show(QMessageBox::Warning, windowTitle(), error);
}

void TFormZARVIK_Mail::closeBySignal()
{
    m_closingBySignal = true;
    close();
}

void TFormZARVIK_Mail::updateBoardAddress()
{
    if (m_dialog)
        NMUDP1->setRemote(m_dialog->EdtPicAddr->text(), m_dialog->EdtPicPort->text());
    else
        NMUDP1->setRemote(m_startAddress, m_startPort);
}

void TFormZARVIK_Mail::showLinkProblem(const QString& why)
{
    m_linkProblem = why;
    if (StatusPanel0)
        StatusPanel0->setText(why);
}

void TFormZARVIK_Mail::GetTemp()
{
    m_readings.AdcSelector = BoardProtocol::TemperatureChannel;
    GetADC();
}

void TFormZARVIK_Mail::GetADC()
{
    updateBoardAddress();
    NMUDP1->sendBuffer(BoardProtocol::adcRequest(m_readings.AdcSelector));
}

void TFormZARVIK_Mail::GetStatus()
{
    updateBoardAddress();
    NMUDP1->sendBuffer(BoardProtocol::statusRequest());
}

void TFormZARVIK_Mail::Timer1Timer()
{
    GetTemp();
    updateStaleness();
}

void TFormZARVIK_Mail::updateStaleness()
{
    const qint64 silentMs = m_sinceReply.elapsed();
    const bool stale = silentMs >= StaleAfterMs;
    if (stale)
        StatusPanel1->setText(QStringLiteral("応答なし %1 秒").arg(silentMs / 1000));
    StatusPanel1->setVisible(stale);
    NowTemp->setEnabled(!stale);
}

void TFormZARVIK_Mail::NMUDP1DataReceived(const QByteArray& data, const QHostAddress&, quint16)
{
    if (data.size() != BoardProtocol::ReplySize) {
        // One box at a time: a flood of bad datagrams must not stack boxes without bound.
        if (m_wrongSizeBoxOpen)
            return;
        m_wrongSizeBoxOpen = true;
        emit wrongSizeReceived();
        OwnMessageBox::show(QMessageBox::NoIcon, QStringLiteral("受信したデータに誤りがあります"),
                            QStringLiteral("データ数が一致しません"));
        m_wrongSizeBoxOpen = false;
        return;
    }
    StatusPanel0->setText(BoardProtocol::statusText(data));
    noteNewReply(m_alert, m_readings);
    BoardProtocol::applyReply(m_readings, data);
    m_sinceReply.restart();
    updateStaleness();
    NowTemp->setText(BoardProtocol::formatTemperature(m_readings.NowTempValue));
    ChkBoxPB1->setChecked(m_readings.PortBits & BoardProtocol::Rb1Mask);
    ChkBoxPB0->setChecked(m_readings.PortBits & BoardProtocol::Rb0Mask);
    emit replyDecoded();
}

void TFormZARVIK_Mail::BtnResetClick()
{
    SendFlagClr();
}

void TFormZARVIK_Mail::SendFlagClr()
{
    ::SendFlagClr(m_alert);
}

void TFormZARVIK_Mail::ToolSettingExecute()
{
    if (m_dialog)
        m_dialog->exec(); // the result is not used: the controls are the live configuration
}

void TFormZARVIK_Mail::MainRoutine()
{
    if (!m_dialog)
        return;
    DialogAlertConfig config(*m_dialog, *EdtMessage, m_sinceReply.elapsed());
    std::optional<QString> badSeconds;
    const quint8 armedBefore = armedRules(m_alert);
    bool mailDue = false;
    try {
        mailDue = runAlertPass(m_alert, m_readings, config, &badSeconds);
    } catch (...) {
        announceFired(armedBefore); // rules that fired before a bad limit text stay fired
        throw;
    }
    announceFired(armedBefore);
    if (mailDue) {
        try {
            SendMail();
        } catch (const SmtpError& e) {
            emit mailFailed(e.message());
            // The mail's error is the one shown now; the seconds text's comes next pass.
            if (badSeconds)
                m_alert.reportedBadNoReply.reset();
            // Kept, when asked for, only if it may go through later.
            const QString notKept = e.mayPass() ? keepMail() : QString();
            if (!notKept.isEmpty())
                throw SmtpError(e.message() + u'\n' + notKept);
            throw;
        }
    }
    if (badSeconds)
        throw SecondsError(*badSeconds);
}

void TFormZARVIK_Mail::announceFired(quint8 armedBefore)
{
    const quint8 fired = armedBefore & ~armedRules(m_alert);
    if (fired)
        emit rulesFired(fired, EdtMessage->text(), m_alert.MailSubject);
}
