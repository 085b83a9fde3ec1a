#include "gui/ToolSettingDlg.h"

#include "gui/Memo.h"
#include "gui/RadioGroup.h"
#include "gui/SettledText.h"
#include "gui/StoredTextValidator.h"
#include "gui/UiFont.h"
#include "push/PushChannels.h"
#include "settings/SettingsDefaults.h"
#include "web/PasswordHash.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr int ClientWidth = 427;
constexpr int ClientHeight = 300;
constexpr int ButtonPanelHeight = 34;

// Nine captions fit the dialog's fixed width only with less room beside each.
class NarrowTabs : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override
    {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        return metric == PM_TabBarTabHSpace ? value / 2 : value;
    }
};

template <typename T> T* named(T* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y,
              Qt::Alignment horizontal = Qt::AlignLeft)
{
    auto* result = named(new QLabel(text, parent), name);
    result->setAlignment(horizontal | Qt::AlignVCenter);
    result->move(x, y);
    result->adjustSize();
    return result;
}

// A right-aligned caption whose text ends at `right`.
QLabel* labelEndingAt(QWidget* parent, const char* name, const QString& text, int right, int y)
{
    QLabel* result = label(parent, name, text, right, y, Qt::AlignRight);
    result->move(right - result->width(), y);
    return result;
}

QLineEdit* edit(QWidget* parent, const char* name, const QString& text, QRect geometry)
{
    auto* result = named(new QLineEdit(text, parent), name);
    result->setGeometry(geometry);
    return result;
}

Memo* memo(QWidget* parent, const char* name, const QString& text, QRect geometry)
{
    auto* result = named(new Memo(parent), name);
    result->setText(text);
    result->setGeometry(geometry);
    return result;
}

template <typename T> struct Part {
    T** widget;
    const char* name;
    const char* text; // UTF-8
};

// A rule's row: check box, value, unit and message, `y` being the check box's top.
void ruleRow(QWidget* tab, int y, Part<QCheckBox> box, Part<QLineEdit> value, Part<QLabel> unit,
             Part<Memo> message)
{
    *box.widget = named(
        new QCheckBox(QCoreApplication::translate("TToolSettingDlg", box.text), tab), box.name);
    (*box.widget)->setGeometry(24, y, 85, 17);
    // A narrower gap after the box keeps the caption whole in its 85 pixels with the fallback
    // font, which runs wider than MS PGothic.
    (*box.widget)->setStyleSheet(QStringLiteral("QCheckBox { spacing: 2px; }"));
    *value.widget = edit(tab, value.name, QString::fromUtf8(value.text), {114, y - 2, 40, 20});
    *unit.widget =
        label(tab, unit.name, QCoreApplication::translate("TToolSettingDlg", unit.text), 164, y);
    *message.widget =
        memo(tab, message.name, QString::fromUtf8(message.text), {200, y - 8, 185, 65});
}

// Runs `show` now and whenever `key` changes, for as long as `receiver` lives.
template <typename Show>
void follow(Settings& settings, Settings::Key key, QObject* receiver, Show show)
{
    show();
    QObject::connect(&settings, &Settings::changed, receiver, [key, show](Settings::Key changed) {
        if (changed == key)
            show();
    });
}

// Shows the key's text in the edit, leaving the edit (and its cursor) alone when it shows it
// already.
void followText(Settings& settings, Settings::Key key, QLineEdit* edit)
{
    follow(settings, key, edit, [&settings, key, edit] {
        if (edit->text() != settings.text(key))
            edit->setText(settings.text(key));
    });
}

QStringList sensorItems()
{
    return {QCoreApplication::translate("TToolSettingDlg", "\"H\"で発信"),
            QCoreApplication::translate("TToolSettingDlg", "\"L\"で発信"),
            QCoreApplication::translate("TToolSettingDlg", "発信しない")};
}

} // namespace

TToolSettingDlg::TToolSettingDlg(Settings& settings, MailPassword& password,
                                 MqttPassword& mqttPassword, QWidget* parent)
    : QDialog(parent)
    , m_settings(settings)
    , m_password(password)
    , m_mqttPassword(mqttPassword)
{
    setObjectName(QStringLiteral("ToolSettingDlg"));
    setWindowTitle(tr("設定"));
    setFont(uiFont(12));
    setFixedSize(ClientWidth, ClientHeight);

    Panel1 = named(new QFrame(this), "Panel1");
    Panel1->setGeometry(0, 0, ClientWidth, ClientHeight - ButtonPanelHeight);
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(5, 5, 5, 5);
    PageCtrl1 = named(new QTabWidget(Panel1), "PageCtrl1");
    auto* narrow = new NarrowTabs;
    narrow->setParent(PageCtrl1);
    PageCtrl1->tabBar()->setStyle(narrow);
    panelLayout->addWidget(PageCtrl1);

    buildZarvikTab();
    buildTempTab();
    buildSensorTab();
    buildMailTab();
    buildWatchTab();
    buildPushTab();
    buildWordsTab();
    buildMqttTab();
    buildWebTab();
    PageCtrl1->setCurrentIndex(0);
    buildButtons();
    guardStoredTexts();
    bindToSettings();
}

void TToolSettingDlg::buildZarvikTab()
{
    TabZARVIK = named(new QWidget, "TabZARVIK");
    PageCtrl1->addTab(TabZARVIK, QStringLiteral("ZARVIK"));
    Label1 = label(TabZARVIK, "Label1", tr("ZARVIK IP Address:"), 25, 40, Qt::AlignRight);
    EdtPicAddr = edit(TabZARVIK, "EdtPicAddr", QString::fromLatin1(SettingsDefaults::BoardAddress),
                      {136, 36, 100, 20});
    Label2 = label(TabZARVIK, "Label2", tr("Port No. :"), 77, 64, Qt::AlignRight);
    EdtPicPort = edit(TabZARVIK, "EdtPicPort", QString::fromLatin1(SettingsDefaults::BoardPort),
                      {136, 60, 100, 20});
    Label9 = label(TabZARVIK, "Label9", tr("Read Cycle :"), 59, 112, Qt::AlignRight);
    EdtRdCycle = edit(TabZARVIK, "EdtRdCycle", QString::fromLatin1(SettingsDefaults::ReadCycleMs),
                      {136, 106, 50, 20});
    Label10 = label(TabZARVIK, "Label10", tr("mSec"), 192, 112);
    Label40 = labelEndingAt(TabZARVIK, "Label40", tr("Language :"), 132, 138);
    CmbLanguage = named(new QComboBox(TabZARVIK), "CmbLanguage");
    // A language is named in its own words, whatever the window speaks.
    CmbLanguage->addItem(tr("システムに合わせる"), QString());
    CmbLanguage->addItem(QStringLiteral("日本語"), QStringLiteral("ja"));
    CmbLanguage->addItem(QStringLiteral("English"), QStringLiteral("en"));
    CmbLanguage->setGeometry(136, 134, 146, 20);
    Label41 = label(TabZARVIK, "Label41", tr("次回の起動から有効です"), 136, 160);
}

void TToolSettingDlg::buildTempTab()
{
    TabTemp = named(new QWidget, "TabTemp");
    PageCtrl1->addTab(TabTemp, tr("Temp"));
    ruleRow(TabTemp, 48,
            {&ChkBoxUTemp, "ChkBoxUTemp", QT_TRANSLATE_NOOP("TToolSettingDlg", "Upper Temp")},
            {&EditUTemp, "EditUTemp", SettingsDefaults::UpperLimit}, {&Label7, "Label7", "℃"},
            {&MemoUTemp, "MemoUTemp", SettingsDefaults::MemoUpper});
    ruleRow(TabTemp, 144,
            {&ChkBoxLTemp, "ChkBoxLTemp", QT_TRANSLATE_NOOP("TToolSettingDlg", "Lower Temp")},
            {&EditLTemp, "EditLTemp", SettingsDefaults::LowerLimit}, {&Label8, "Label8", "℃"},
            {&MemoLTemp, "MemoLTemp", SettingsDefaults::MemoLower});
    // The calibration, under the rules it comes before.
    Label25 = label(TabTemp, "Label25", tr("Offset :"), 24, 204);
    EditOffset = edit(TabTemp, "EditOffset", QString::fromUtf8(SettingsDefaults::TempOffset),
                      {114, 202, 40, 20});
    EditOffset->setToolTip(
        tr("読み取った温度に足す値 (℃、-20〜20、小数可)。表示、判定、グラフ、CSV、"
           "メトリクス、通知のすべてに効きます。"));
    Label26 = label(TabTemp, "Label26", QStringLiteral("℃"), 164, 204);
}

void TToolSettingDlg::buildSensorTab()
{
    TabSensor = named(new QWidget, "TabSensor");
    PageCtrl1->addTab(TabSensor, tr("Sensor"));
    RGrpRB1 =
        new RadioGroup(QStringLiteral("RGrpRB1"), QStringLiteral("RB1"), sensorItems(), TabSensor);
    RGrpRB1->setItemIndex(SettingsDefaults::SensorChoice);
    RGrpRB1->setGeometry(32, 24, 150, 80);
    MemoChgRB1 = memo(TabSensor, "MemoChgRB1", QString::fromUtf8(SettingsDefaults::MemoRb1),
                      {192, 24, 185, 81});
    RGrpRB0 =
        new RadioGroup(QStringLiteral("RGrpRB0"), QStringLiteral("RB0"), sensorItems(), TabSensor);
    RGrpRB0->setItemIndex(SettingsDefaults::SensorChoice);
    RGrpRB0->setGeometry(32, 120, 150, 80);
    MemoChgRB0 = memo(TabSensor, "MemoChgRB0", QString::fromUtf8(SettingsDefaults::MemoRb0),
                      {192, 120, 185, 81});
}

void TToolSettingDlg::buildMailTab()
{
    TabMAIL = named(new QWidget, "TabMAIL");
    PageCtrl1->addTab(TabMAIL, tr("MAIL"));
    Label3 = label(TabMAIL, "Label3", tr("SMTP Server :"), 23, 24, Qt::AlignRight);
    EdtMailSrv = edit(TabMAIL, "EdtMailSrv", QString(), {104, 20, 250, 20});
    Label4 = label(TabMAIL, "Label4", tr("User ID :"), 51, 56, Qt::AlignRight);
    EdtMailId = edit(TabMAIL, "EdtMailId", QString(), {104, 52, 250, 20});
    Label5 = label(TabMAIL, "Label5", tr("From :"), 64, 88, Qt::AlignRight);
    EdtMailFrom = edit(TabMAIL, "EdtMailFrom", QString(), {104, 84, 250, 20});
    Label6 = label(TabMAIL, "Label6", tr("To :"), 77, 120, Qt::AlignRight);
    EdtMailTo = edit(TabMAIL, "EdtMailTo", QString(), {104, 116, 250, 20});
    RGrpPrty = new RadioGroup(QStringLiteral("RGrpPrty"), tr("Priority"),
                              {tr("High"), tr("Normal"), tr("Low")}, TabMAIL);
    RGrpPrty->setItemIndex(SettingsDefaults::Priority);
    RGrpPrty->setGeometry(24, 144, 113, 81);

    Label11 = labelEndingAt(TabMAIL, "Label11", tr("Password :"), 204, 148);
    EdtMailPass = edit(TabMAIL, "EdtMailPass", QString(), {208, 144, 146, 20});
    EdtMailPass->setEchoMode(QLineEdit::Password);
    Label12 = labelEndingAt(TabMAIL, "Label12", tr("Security :"), 204, 172);
    CmbMailSec = named(new QComboBox(TabMAIL), "CmbMailSec");
    CmbMailSec->addItems(
        {tr("Auto"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS"), tr("None")});
    CmbMailSec->setGeometry(208, 168, 146, 20);
    BtnTestMail = named(new QPushButton(tr("テスト送信"), TabMAIL), "BtnTestMail");
    BtnTestMail->setGeometry(279, 196, 75, 25);
    connect(BtnTestMail, &QPushButton::clicked, this, &TToolSettingDlg::testMailRequested);
    LabelKeyring = named(new QLabel(TabMAIL), "LabelKeyring");
    LabelKeyring->setGeometry(142, 192, 134, 36); // two lines of the note
    LabelKeyring->setWordWrap(true);
    LabelKeyring->setStyleSheet(QStringLiteral("QLabel { color: #b00000; }"));

    // What the keyring answers reaches the password box through the settings.
    connect(&m_password, &MailPassword::unavailable, this, &TToolSettingDlg::showKeyringMissing);
    if (!m_password.keyringAvailable())
        showKeyringMissing(m_password.keyringProblem());
    // Whether a keyring answers is worth knowing while the password is being typed.
    connect(EdtMailPass, &QLineEdit::textEdited, this, [this] {
        if (m_password.keyringAvailable() && !m_keyringAsked)
            loadPassword();
    });
}

void TToolSettingDlg::buildWatchTab()
{
    TabWatch = named(new QWidget, "TabWatch");
    PageCtrl1->addTab(TabWatch, tr("Watch"));
    ruleRow(TabWatch, 48,
            {&ChkBoxNoReply, "ChkBoxNoReply", QT_TRANSLATE_NOOP("TToolSettingDlg", "No reply for")},
            {&EditNoReplySec, "EditNoReplySec", SettingsDefaults::NoReplySeconds},
            {&Label13, "Label13", QT_TRANSLATE_NOOP("TToolSettingDlg", "sec")},
            {&MemoNoReply, "MemoNoReply", SettingsDefaults::MemoNoReply});
    ChkBoxRetry = named(new QCheckBox(tr("送信失敗時に再送する"), TabWatch), "ChkBoxRetry");
    ChkBoxRetry->setGeometry(24, 120, 200, 17);
    ChkBoxLog = named(new QCheckBox(tr("CSV に記録"), TabWatch), "ChkBoxLog");
    ChkBoxLog->setGeometry(24, 144, 200, 17);
    ChkBoxNotify = named(new QCheckBox(tr("デスクトップ通知"), TabWatch), "ChkBoxNotify");
    ChkBoxNotify->setGeometry(24, 168, 200, 17);
    Label14 = label(TabWatch, "Label14", tr("Metrics :"), 24, 196);
    EdtMetrics = edit(TabWatch, "EdtMetrics", QString(), {114, 194, 146, 20});
    // Only a suggestion: an empty edit keeps the metrics off.
    EdtMetrics->setPlaceholderText(QStringLiteral("127.0.0.1:9464"));
    // Re-arming and reminders, right of the check boxes they share the rows with.
    ChkBoxReArm = named(new QCheckBox(tr("自動で再監視"), TabWatch), "ChkBoxReArm");
    ChkBoxReArm->setGeometry(236, 120, 100, 17);
    EditReArmSec = edit(TabWatch, "EditReArmSec", QString::fromUtf8(SettingsDefaults::ReArmSeconds),
                        {340, 118, 40, 20});
    Label15 = label(TabWatch, "Label15", tr("sec"), 386, 120);
    Label16 = labelEndingAt(TabWatch, "Label16", tr("Hysteresis :"), 334, 144);
    EditHysteresis = edit(TabWatch, "EditHysteresis",
                          QString::fromUtf8(SettingsDefaults::Hysteresis), {340, 142, 40, 20});
    Label17 = label(TabWatch, "Label17", QStringLiteral("℃"), 386, 144);
    Label18 = labelEndingAt(TabWatch, "Label18", tr("Remind every :"), 334, 168);
    EditRemindMin = edit(TabWatch, "EditRemindMin",
                         QString::fromUtf8(SettingsDefaults::RemindMinutes), {340, 166, 40, 20});
    Label19 = label(TabWatch, "Label19", tr("min"), 386, 168);
    // A rule fires once its condition has held this long: a door open for a moment is no alert.
    LabelHold = labelEndingAt(TabWatch, "LabelHold", tr("Hold :"), 334, 196);
    EditHoldSec = edit(TabWatch, "EditHoldSec", QString::fromUtf8(SettingsDefaults::HoldSeconds),
                       {340, 194, 40, 20});
    EditHoldSec->setToolTip(tr("条件がこの秒数続いたときだけ通知します (0: すぐに通知)"));
    LabelHoldSec = label(TabWatch, "LabelHoldSec", tr("sec"), 386, 196);
}

void TToolSettingDlg::buildPushTab()
{
    TabPush = named(new QWidget, "TabPush");
    PageCtrl1->addTab(TabPush, tr("Push"));
    Label20 = label(TabPush, "Label20", QStringLiteral("ntfy :"), 24, 50);
    EdtNtfy = edit(TabPush, "EdtNtfy", QString(), {114, 48, 280, 20});
    EdtNtfy->setPlaceholderText(QStringLiteral("https://ntfy.sh/topic"));
    Label21 = label(TabPush, "Label21", tr("Webhook :"), 24, 82);
    EdtWebhook = edit(TabPush, "EdtWebhook", QString(), {114, 80, 280, 20});
    EdtWebhook->setPlaceholderText(QStringLiteral("https://hooks.slack.com/services/..."));
    Label22 = label(TabPush, "Label22", QStringLiteral("Telegram :"), 24, 114);
    EdtTelegramToken = edit(TabPush, "EdtTelegramToken", QString(), {114, 112, 280, 20});
    EdtTelegramToken->setPlaceholderText(tr("Bot token"));
    // A secret: shown neither here nor anywhere else.
    EdtTelegramToken->setEchoMode(QLineEdit::Password);
    Label23 = label(TabPush, "Label23", tr("Chat ID :"), 24, 146);
    EdtTelegramChat = edit(TabPush, "EdtTelegramChat", QString(), {114, 144, 146, 20});
    EdtTelegramChat->setPlaceholderText(QStringLiteral("-1001234567890"));
    Label24 = label(TabPush, "Label24", tr("Bot API :"), 24, 178);
    EdtTelegramApi = edit(TabPush, "EdtTelegramApi", QString(), {114, 176, 280, 20});
    EdtTelegramApi->setPlaceholderText(QString::fromLatin1(PushChannels::DefaultTelegramApi));
}

void TToolSettingDlg::buildWordsTab()
{
    TabWords = named(new QWidget, "TabWords");
    PageCtrl1->addTab(TabWords, tr("Words"));
    Label27 = label(TabWords, "Label27", tr("Subject :"), 24, 50);
    EdtSubject = edit(TabWords, "EdtSubject", QString(), {114, 48, 280, 20});
    Label28 = label(TabWords, "Label28", tr("Body :"), 24, 82);
    EdtBody = edit(TabWords, "EdtBody", QString(), {114, 80, 280, 20});
    LabelWords = named(new QLabel(TabWords), "LabelWords");
    LabelWords->setGeometry(24, 112, 370, 96);
    LabelWords->setWordWrap(true);
    LabelWords->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LabelWords->setText(tr("メールと通知の件名と本文。空欄なら従来の文面です。\n"
                           "差し込み項目: {subject} {message} {temperature} {rb1} {rb0} {rules} "
                           "{time} {board} {memo}\n"
                           "本文の \\n は改行です。件名は 1 行で書きます。"));
}

void TToolSettingDlg::buildMqttTab()
{
    TabMqtt = named(new QWidget, "TabMqtt");
    PageCtrl1->addTab(TabMqtt, QStringLiteral("MQTT"));
    Label29 = label(TabMqtt, "Label29", tr("Broker :"), 24, 34);
    EdtMqttBroker = edit(TabMqtt, "EdtMqttBroker", QString(), {114, 32, 280, 20});
    // Only a suggestion: an empty edit keeps MQTT off.
    EdtMqttBroker->setPlaceholderText(QStringLiteral("mqtt://127.0.0.1:1883"));
    Label30 = label(TabMqtt, "Label30", tr("User :"), 24, 62);
    EdtMqttUser = edit(TabMqtt, "EdtMqttUser", QString(), {114, 60, 146, 20});
    Label31 = label(TabMqtt, "Label31", tr("Password :"), 24, 90);
    EdtMqttPass = edit(TabMqtt, "EdtMqttPass", QString(), {114, 88, 146, 20});
    EdtMqttPass->setEchoMode(QLineEdit::Password);
    Label32 = label(TabMqtt, "Label32", tr("Prefix :"), 24, 118);
    EdtMqttPrefix = edit(TabMqtt, "EdtMqttPrefix",
                         QString::fromLatin1(SettingsDefaults::MqttPrefix), {114, 116, 146, 20});
    Label33 = label(TabMqtt, "Label33", tr("Node ID :"), 24, 146);
    EdtMqttNodeId = edit(TabMqtt, "EdtMqttNodeId", QString(), {114, 144, 146, 20});
    ChkBoxMqttCommands = named(new QCheckBox(tr("Home Assistant からの操作を受け付ける"), TabMqtt),
                               "ChkBoxMqttCommands");
    ChkBoxMqttCommands->setGeometry(24, 176, 370, 17);

    // The keyring is the same one the mail password is kept in: its note says for both.
    connect(&m_mqttPassword, &KeptPassword::unavailable, this,
            &TToolSettingDlg::showKeyringMissing);
    connect(EdtMqttPass, &QLineEdit::textEdited, this, [this] {
        if (m_mqttPassword.keyringAvailable() && !m_mqttKeyringAsked) {
            m_mqttKeyringAsked = true;
            m_mqttPassword.ask(KeptPassword::Ask::EvenWithoutLogin);
        }
    });
}

void TToolSettingDlg::buildWebTab()
{
    TabWeb = named(new QWidget, "TabWeb");
    PageCtrl1->addTab(TabWeb, tr("Web"));
    Label34 = label(TabWeb, "Label34", tr("Listen :"), 24, 34);
    EdtWebListen = edit(TabWeb, "EdtWebListen", QString(), {114, 32, 280, 20});
    // Only a suggestion: an empty edit keeps the page off.
    EdtWebListen->setPlaceholderText(QStringLiteral("127.0.0.1:8080"));
    Label35 = label(TabWeb, "Label35", tr("User :"), 24, 62);
    EdtWebUser = edit(TabWeb, "EdtWebUser", QString(), {114, 60, 146, 20});
    Label36 = label(TabWeb, "Label36", tr("Password :"), 24, 90);
    EdtWebPass = edit(TabWeb, "EdtWebPass", QString(), {114, 88, 146, 20});
    EdtWebPass->setEchoMode(QLineEdit::Password);
    Label37 = label(TabWeb, "Label37", tr("Cert file :"), 24, 118);
    EdtWebCert = edit(TabWeb, "EdtWebCert", QString(), {114, 116, 280, 20});
    Label38 = label(TabWeb, "Label38", tr("Key file :"), 24, 146);
    EdtWebKey = edit(TabWeb, "EdtWebKey", QString(), {114, 144, 280, 20});
    Label39 = named(new QLabel(TabWeb), "Label39");
    Label39->setGeometry(24, 174, 370, 36); // room for a second line in a wider font
    Label39->setWordWrap(true);
    Label39->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label39->setText(tr("HTTPS とログインが無い場合はループバックのみで公開されます"));
}

void TToolSettingDlg::bindToSettings()
{
    using K = Settings::Key;
    Settings& settings = m_settings;
    // Edits in force at once, as typed.
    const std::pair<QLineEdit*, K> edits[] = {
        {EdtPicAddr, K::BoardAddress},
        {EdtPicPort, K::BoardPort},
        {EdtRdCycle, K::ReadCycle},
        {EdtMailSrv, K::MailServer},
        {EdtMailId, K::MailUser},
        {EdtMailFrom, K::MailFrom},
        {EdtMailTo, K::MailTo},
        {EdtMailPass, K::MailPassword},
        // At once, so that what was typed wins over what the keyring answers later.
        {EdtMqttPass, K::MqttPassword},
    };
    for (const auto& [edit, key] : edits) {
        followText(settings, key, edit);
        connect(edit, &QLineEdit::textChanged, this,
                [&settings, key = key](const QString& text) { settings.setValue(key, text); });
    }
    // The rule texts, in force once their typing pauses, so that a half-typed number ("4" on the
    // way to "40") is never acted on.
    const struct {
        SettledText** member;
        const char* name;
        QLineEdit* edit;
        K key;
    } settledEdits[] = {
        {&SettledUTemp, "SettledUTemp", EditUTemp, K::UpperLimit},
        {&SettledLTemp, "SettledLTemp", EditLTemp, K::LowerLimit},
        {&SettledNoReplySec, "SettledNoReplySec", EditNoReplySec, K::NoReplySec},
        {&SettledMetrics, "SettledMetrics", EdtMetrics, K::Metrics},
        {&SettledReArmSec, "SettledReArmSec", EditReArmSec, K::ReArmSec},
        {&SettledHysteresis, "SettledHysteresis", EditHysteresis, K::Hysteresis},
        {&SettledRemindMin, "SettledRemindMin", EditRemindMin, K::RemindMin},
        {&SettledHoldSec, "SettledHoldSec", EditHoldSec, K::HoldSec},
        // A half-typed URL must not receive a kept push.
        {&SettledNtfy, "SettledNtfy", EdtNtfy, K::PushNtfy},
        {&SettledWebhook, "SettledWebhook", EdtWebhook, K::PushWebhook},
        {&SettledTelegramToken, "SettledTelegramToken", EdtTelegramToken, K::PushTelegramToken},
        {&SettledTelegramChat, "SettledTelegramChat", EdtTelegramChat, K::PushTelegramChat},
        {&SettledTelegramApi, "SettledTelegramApi", EdtTelegramApi, K::PushTelegramApi},
        // A half-typed number or placeholder must not be told as a mistake.
        {&SettledOffset, "SettledOffset", EditOffset, K::TempOffset},
        {&SettledSubject, "SettledSubject", EdtSubject, K::MailSubject},
        {&SettledBody, "SettledBody", EdtBody, K::MailBody},
        // A half-typed broker or login must not be connected to, nor a half-typed prefix or node
        // id announced to Home Assistant.
        {&SettledMqttBroker, "SettledMqttBroker", EdtMqttBroker, K::MqttBroker},
        {&SettledMqttUser, "SettledMqttUser", EdtMqttUser, K::MqttUser},
        {&SettledMqttPrefix, "SettledMqttPrefix", EdtMqttPrefix, K::MqttPrefix},
        {&SettledMqttNodeId, "SettledMqttNodeId", EdtMqttNodeId, K::MqttNodeId},
        // A half-typed address must not be listened on, nor a half-typed path read.
        {&SettledWebListen, "SettledWebListen", EdtWebListen, K::WebListen},
        {&SettledWebUser, "SettledWebUser", EdtWebUser, K::WebUser},
        {&SettledWebCert, "SettledWebCert", EdtWebCert, K::WebCertFile},
        {&SettledWebKey, "SettledWebKey", EdtWebKey, K::WebKeyFile},
    };
    for (const auto& bound : settledEdits) {
        followText(settings, bound.key, bound.edit);
        SettledText* settled = *bound.member = named(new SettledText(bound.edit), bound.name);
        connect(settled, &SettledText::settled, this,
                [&settings, key = bound.key, settled] { settings.setValue(key, settled->text()); });
    }
    const std::pair<QCheckBox*, K> boxes[] = {
        {ChkBoxUTemp, K::CheckUpper}, {ChkBoxLTemp, K::CheckLower},
        {ChkBoxNoReply, K::NoReply},  {ChkBoxRetry, K::Retry},
        {ChkBoxLog, K::Log},          {ChkBoxNotify, K::Notify},
        {ChkBoxReArm, K::ReArm},      {ChkBoxMqttCommands, K::MqttCommands},
    };
    for (const auto& [box, key] : boxes) {
        follow(settings, key, box,
               [&settings, key = key, box = box] { box->setChecked(settings.flag(key)); });
        connect(box, &QCheckBox::toggled, this,
                [&settings, key = key](bool on) { settings.setValue(key, on); });
    }
    const std::pair<RadioGroup*, K> groups[] = {
        {RGrpRB1, K::Rb1}, {RGrpRB0, K::Rb0}, {RGrpPrty, K::Priority}};
    for (const auto& [group, key] : groups) {
        follow(settings, key, group, [&settings, key = key, group = group] {
            group->setItemIndex(settings.number(key));
        });
        connect(group, &RadioGroup::itemIndexChanged, this,
                [&settings, key = key](int index) { settings.setValue(key, index); });
    }
    follow(settings, K::MailSecurity, CmbMailSec,
           [this] { CmbMailSec->setCurrentIndex(m_settings.number(Settings::MailSecurity)); });
    connect(CmbMailSec, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_settings.setValue(Settings::MailSecurity, index); });
    // A value the program does not speak reads as the system's, as at start, and stays stored
    // until another is chosen.
    follow(settings, K::UiLanguage, CmbLanguage, [this] {
        const QSignalBlocker quiet(CmbLanguage);
        CmbLanguage->setCurrentIndex(std::max(
            0, CmbLanguage->findData(m_settings.text(Settings::UiLanguage).trimmed().toLower())));
    });
    connect(CmbLanguage, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_settings.setValue(Settings::UiLanguage, CmbLanguage->itemData(index).toString());
    });
    const std::pair<Memo*, K> memos[] = {
        {MemoUTemp, K::MemoUpper}, {MemoLTemp, K::MemoLower},     {MemoChgRB1, K::MemoRb1},
        {MemoChgRB0, K::MemoRb0},  {MemoNoReply, K::MemoNoReply},
    };
    for (const auto& [memo, key] : memos) {
        follow(settings, key, memo, [&settings, key = key, memo = memo] {
            if (memo->text() != settings.text(key))
                memo->setText(settings.text(key));
        });
        connect(memo, &Memo::textChanged, this,
                [&settings, key = key, memo = memo] { settings.setValue(key, memo->text()); });
    }

    // Closing brings what was typed into force and keeps the password as soon as the dialog
    // closes, not only when the program ends.
    connect(this, &QDialog::finished, this, [this] {
        for (SettledText* settled :
             {SettledUTemp,       SettledLTemp,      SettledNoReplySec,    SettledMetrics,
              SettledReArmSec,    SettledHysteresis, SettledRemindMin,     SettledHoldSec,
              SettledNtfy,        SettledWebhook,    SettledTelegramToken, SettledTelegramChat,
              SettledTelegramApi, SettledOffset,     SettledSubject,       SettledBody,
              SettledMqttBroker,  SettledMqttUser,   SettledMqttPrefix,    SettledMqttNodeId,
              SettledWebListen,   SettledWebUser,    SettledWebCert,       SettledWebKey})
            settled->settle();
        storePassword();
    });
    // The stored hash is never shown; the box only says that there is one.
    follow(settings, K::WebPasswordHash, EdtWebPass, [this] {
        EdtWebPass->setPlaceholderText(
            m_settings.text(Settings::WebPasswordHash).isEmpty() ? QString() : tr("(設定済み)"));
    });
    // Hashed once, at OK: hashing is slow on purpose, and a new salt at each key would be waste.
    connect(this, &QDialog::finished, this, [this](int result) {
        if (result == QDialog::Accepted)
            storeWebPassword();
        EdtWebPass->clear();
    });
}

void TToolSettingDlg::settleTexts()
{
    const std::pair<SettledText*, Settings::Key> texts[] = {
        {SettledUTemp, Settings::UpperLimit},
        {SettledLTemp, Settings::LowerLimit},
        {SettledNoReplySec, Settings::NoReplySec},
        {SettledMetrics, Settings::Metrics},
        {SettledReArmSec, Settings::ReArmSec},
        {SettledHysteresis, Settings::Hysteresis},
        {SettledRemindMin, Settings::RemindMin},
        {SettledHoldSec, Settings::HoldSec},
        {SettledNtfy, Settings::PushNtfy},
        {SettledWebhook, Settings::PushWebhook},
        {SettledTelegramToken, Settings::PushTelegramToken},
        {SettledTelegramChat, Settings::PushTelegramChat},
        {SettledTelegramApi, Settings::PushTelegramApi},
        {SettledOffset, Settings::TempOffset},
        {SettledSubject, Settings::MailSubject},
        {SettledBody, Settings::MailBody},
        {SettledMqttBroker, Settings::MqttBroker},
        {SettledMqttUser, Settings::MqttUser},
        {SettledMqttPrefix, Settings::MqttPrefix},
        {SettledMqttNodeId, Settings::MqttNodeId},
        {SettledWebListen, Settings::WebListen},
        {SettledWebUser, Settings::WebUser},
        {SettledWebCert, Settings::WebCertFile},
        {SettledWebKey, Settings::WebKeyFile},
    };
    // A text the program set is in force at once but told a moment later: it counts too.
    for (const auto& [settled, key] : texts) {
        settled->settle();
        m_settings.setValue(key, settled->text());
    }
}

void TToolSettingDlg::loadPassword()
{
    m_keyringAsked = true;
    m_password.ask(MailPassword::Ask::EvenWithoutLogin);
}

void TToolSettingDlg::storePassword(int waitMs)
{
    m_password.keep(waitMs);
    m_mqttPassword.keep(waitMs);
}

void TToolSettingDlg::storeWebPassword()
{
    const QString typed = EdtWebPass->text();
    if (typed.isEmpty())
        return;
    // Empty when it cannot be hashed (a NUL in it): the stored hash is better than none.
    const QString hash = PasswordHash::hash(typed);
    if (!hash.isEmpty())
        m_settings.setValue(Settings::WebPasswordHash, hash);
}

void TToolSettingDlg::showKeyringMissing(const QString& why)
{
    LabelKeyring->setText(tr("キーリングなし: 今回のみ保持"));
    LabelKeyring->setToolTip(
        tr("パスワードを保存できるキーリングがありません。パスワードはこの実行中だけ"
           "保持されます。\n") +
        why);
}

void TToolSettingDlg::buildButtons()
{
    Panel2 = named(new QFrame(this), "Panel2");
    Panel2->setGeometry(0, ClientHeight - ButtonPanelHeight, ClientWidth, ButtonPanelHeight);
    OKBtn = named(new QPushButton(tr("OK"), Panel2), "OKBtn");
    OKBtn->setGeometry(187, 2, 75, 25);
    OKBtn->setDefault(true);
    CancelBtn = named(new QPushButton(tr("キャンセル"), Panel2), "CancelBtn");
    CancelBtn->setGeometry(267, 2, 75, 25);
    // There is no help to show yet; the button stays so the button row keeps its place.
    HelpBtn = named(new QPushButton(tr("ヘルプ(&H)"), Panel2), "HelpBtn");
    HelpBtn->setGeometry(347, 2, 75, 25);
    LabelRefused = named(new QLabel(Panel2), "LabelRefused");
    LabelRefused->setGeometry(6, 2, 178, 25);
    LabelRefused->setStyleSheet(QStringLiteral("QLabel { color: #b00000; }"));
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TToolSettingDlg::guardStoredTexts()
{
    const std::pair<QLineEdit*, QString> stored[] = {
        {EdtPicAddr, Label1->text()},       {EdtPicPort, Label2->text()},
        {EdtRdCycle, Label9->text()},       {EditUTemp, ChkBoxUTemp->text()},
        {EditLTemp, ChkBoxLTemp->text()},   {EdtMailSrv, Label3->text()},
        {EdtMailId, Label4->text()},        {EdtMailFrom, Label5->text()},
        {EdtMailTo, Label6->text()},        {EditNoReplySec, ChkBoxNoReply->text()},
        {EdtMetrics, Label14->text()},      {EditReArmSec, ChkBoxReArm->text()},
        {EditHysteresis, Label16->text()},  {EditRemindMin, Label18->text()},
        {EditHoldSec, LabelHold->text()},   {EdtNtfy, Label20->text()},
        {EdtWebhook, Label21->text()},      {EdtTelegramToken, Label22->text()},
        {EdtTelegramChat, Label23->text()}, {EdtTelegramApi, Label24->text()},
        {EditOffset, Label25->text()},      {EdtSubject, Label27->text()},
        {EdtBody, Label28->text()},         {EdtMqttBroker, Label29->text()},
        {EdtMqttUser, Label30->text()},     {EdtMqttPrefix, Label32->text()},
        {EdtMqttNodeId, Label33->text()},   {EdtWebListen, Label34->text()},
        {EdtWebUser, Label35->text()},      {EdtWebCert, Label37->text()},
        {EdtWebKey, Label38->text()},
    };
    for (const auto& [edit, caption] : stored) {
        // The validator, not the length limit, must see long input, so that it is refused
        // whole and said; text read from the file is never cut either.
        edit->setMaxLength(std::numeric_limits<int>::max());
        auto* validator = new StoredTextValidator(edit);
        connect(validator, &StoredTextValidator::refused, this,
                [this, caption = caption](const QString& why) {
                    const QString note = caption.trimmed() + u' ' + why;
                    LabelRefused->setText(note);
                    LabelRefused->setToolTip(note);
                });
        connect(edit, &QLineEdit::textEdited, LabelRefused, &QLabel::clear);
        edit->setValidator(validator);
    }
}

void TToolSettingDlg::showEvent(QShowEvent* event)
{
    if (const QScreen* where = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(where->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}
