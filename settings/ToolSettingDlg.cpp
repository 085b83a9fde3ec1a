#include "settings/ToolSettingDlg.h"

#include "settings/Memo.h"
#include "settings/PasswordStore.h"
#include "settings/RadioGroup.h"
#include "settings/SettingsDefaults.h"
#include "settings/SettledText.h"
#include "settings/StoredTextValidator.h"
#include "settings/UiFont.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <limits>
#include <utility>

namespace {

constexpr int ClientWidth = 427;
constexpr int ClientHeight = 300;
constexpr int ButtonPanelHeight = 34;

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
    *box.widget = named(new QCheckBox(QString::fromUtf8(box.text), tab), box.name);
    (*box.widget)->setGeometry(24, y, 85, 17);
    // A narrower gap after the box keeps the caption whole in its 85 pixels with the fallback
    // font, which runs wider than MS PGothic.
    (*box.widget)->setStyleSheet(QStringLiteral("QCheckBox { spacing: 2px; }"));
    *value.widget = edit(tab, value.name, QString::fromUtf8(value.text), {114, y - 2, 40, 20});
    *unit.widget = label(tab, unit.name, QString::fromUtf8(unit.text), 164, y);
    *message.widget =
        memo(tab, message.name, QString::fromUtf8(message.text), {200, y - 8, 185, 65});
}

const QStringList& sensorItems()
{
    static const QStringList items{QStringLiteral("\"H\"で発信"), QStringLiteral("\"L\"で発信"),
                                   QStringLiteral("発信しない")};
    return items;
}

} // namespace

TToolSettingDlg::TToolSettingDlg(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ToolSettingDlg"));
    setWindowTitle(QStringLiteral("設定"));
    setFont(uiFont(12));
    setFixedSize(ClientWidth, ClientHeight);

    Panel1 = named(new QFrame(this), "Panel1");
    Panel1->setGeometry(0, 0, ClientWidth, ClientHeight - ButtonPanelHeight);
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(5, 5, 5, 5);
    PageCtrl1 = named(new QTabWidget(Panel1), "PageCtrl1");
    panelLayout->addWidget(PageCtrl1);

    buildZarvikTab();
    buildTempTab();
    buildSensorTab();
    buildMailTab();
    buildWatchTab();
    settleRuleTexts();
    PageCtrl1->setCurrentIndex(0);
    buildButtons();
    guardStoredTexts();
}

void TToolSettingDlg::buildZarvikTab()
{
    TabZARVIK = named(new QWidget, "TabZARVIK");
    PageCtrl1->addTab(TabZARVIK, QStringLiteral("ZARVIK"));
    Label1 =
        label(TabZARVIK, "Label1", QStringLiteral("ZARVIK IP Address:"), 25, 40, Qt::AlignRight);
    EdtPicAddr = edit(TabZARVIK, "EdtPicAddr", QString::fromLatin1(SettingsDefaults::BoardAddress),
                      {136, 36, 100, 20});
    Label2 = label(TabZARVIK, "Label2", QStringLiteral("Port No. :"), 77, 64, Qt::AlignRight);
    EdtPicPort = edit(TabZARVIK, "EdtPicPort", QString::fromLatin1(SettingsDefaults::BoardPort),
                      {136, 60, 100, 20});
    Label9 = label(TabZARVIK, "Label9", QStringLiteral("Read Cycle :"), 59, 112, Qt::AlignRight);
    EdtRdCycle = edit(TabZARVIK, "EdtRdCycle", QString::fromLatin1(SettingsDefaults::ReadCycleMs),
                      {136, 106, 50, 20});
    Label10 = label(TabZARVIK, "Label10", QStringLiteral("mSec"), 192, 112);
}

void TToolSettingDlg::buildTempTab()
{
    TabTemp = named(new QWidget, "TabTemp");
    PageCtrl1->addTab(TabTemp, QStringLiteral("Temp"));
    ruleRow(TabTemp, 48, {&ChkBoxUTemp, "ChkBoxUTemp", "Upper Temp"},
            {&EditUTemp, "EditUTemp", SettingsDefaults::UpperLimit}, {&Label7, "Label7", "℃"},
            {&MemoUTemp, "MemoUTemp", "Message <Upper Temp>"});
    ruleRow(TabTemp, 144, {&ChkBoxLTemp, "ChkBoxLTemp", "Lower Temp"},
            {&EditLTemp, "EditLTemp", SettingsDefaults::LowerLimit}, {&Label8, "Label8", "℃"},
            {&MemoLTemp, "MemoLTemp", "Message <Lower Temp>"});
}

void TToolSettingDlg::buildSensorTab()
{
    TabSensor = named(new QWidget, "TabSensor");
    PageCtrl1->addTab(TabSensor, QStringLiteral("Sensor"));
    RGrpRB1 =
        new RadioGroup(QStringLiteral("RGrpRB1"), QStringLiteral("RB1"), sensorItems(), TabSensor);
    RGrpRB1->setItemIndex(SettingsDefaults::SensorChoice);
    RGrpRB1->setGeometry(32, 24, 150, 80);
    MemoChgRB1 = memo(TabSensor, "MemoChgRB1", QStringLiteral("Message <Change RB1>\r\n"),
                      {192, 24, 185, 81});
    RGrpRB0 =
        new RadioGroup(QStringLiteral("RGrpRB0"), QStringLiteral("RB0"), sensorItems(), TabSensor);
    RGrpRB0->setItemIndex(SettingsDefaults::SensorChoice);
    RGrpRB0->setGeometry(32, 120, 150, 80);
    MemoChgRB0 =
        memo(TabSensor, "MemoChgRB0", QStringLiteral("Message <Change RB0>"), {192, 120, 185, 81});
}

void TToolSettingDlg::buildMailTab()
{
    TabMAIL = named(new QWidget, "TabMAIL");
    PageCtrl1->addTab(TabMAIL, QStringLiteral("MAIL"));
    Label3 = label(TabMAIL, "Label3", QStringLiteral("SMTP Server :"), 23, 24, Qt::AlignRight);
    EdtMailSrv = edit(TabMAIL, "EdtMailSrv", QString(), {104, 20, 250, 20});
    Label4 = label(TabMAIL, "Label4", QStringLiteral("User ID :"), 51, 56, Qt::AlignRight);
    EdtMailId = edit(TabMAIL, "EdtMailId", QString(), {104, 52, 250, 20});
    Label5 = label(TabMAIL, "Label5", QStringLiteral("From :"), 64, 88, Qt::AlignRight);
    EdtMailFrom = edit(TabMAIL, "EdtMailFrom", QString(), {104, 84, 250, 20});
    Label6 = label(TabMAIL, "Label6", QStringLiteral("To :"), 77, 120, Qt::AlignRight);
    EdtMailTo = edit(TabMAIL, "EdtMailTo", QString(), {104, 116, 250, 20});
    RGrpPrty = new RadioGroup(
        QStringLiteral("RGrpPrty"), QStringLiteral("Priority"),
        {QStringLiteral("High"), QStringLiteral("Normal"), QStringLiteral("Low")}, TabMAIL);
    RGrpPrty->setItemIndex(SettingsDefaults::Priority);
    RGrpPrty->setGeometry(24, 144, 113, 81);

    Label11 = labelEndingAt(TabMAIL, "Label11", QStringLiteral("Password :"), 204, 148);
    EdtMailPass = edit(TabMAIL, "EdtMailPass", QString(), {208, 144, 146, 20});
    EdtMailPass->setEchoMode(QLineEdit::Password);
    Label12 = labelEndingAt(TabMAIL, "Label12", QStringLiteral("Security :"), 204, 172);
    CmbMailSec = named(new QComboBox(TabMAIL), "CmbMailSec");
    CmbMailSec->addItems({QStringLiteral("Auto"), QStringLiteral("STARTTLS"),
                          QStringLiteral("SSL/TLS"), QStringLiteral("None")});
    CmbMailSec->setGeometry(208, 168, 146, 20);
    BtnTestMail = named(new QPushButton(QStringLiteral("テスト送信"), TabMAIL), "BtnTestMail");
    BtnTestMail->setGeometry(279, 196, 75, 25);
    connect(BtnTestMail, &QPushButton::clicked, this, &TToolSettingDlg::testMailRequested);
    LabelKeyring = named(new QLabel(TabMAIL), "LabelKeyring");
    LabelKeyring->setGeometry(142, 192, 134, 36); // two lines of the note
    LabelKeyring->setWordWrap(true);
    LabelKeyring->setStyleSheet(QStringLiteral("QLabel { color: #b00000; }"));

    Passwords = new PasswordStore(this);
    connect(Passwords, &PasswordStore::loaded, EdtMailPass, [this](const QString& password) {
        if (EdtMailPass->text().isEmpty())
            EdtMailPass->setText(password);
    });
    connect(Passwords, &PasswordStore::unavailable, this, &TToolSettingDlg::showKeyringMissing);
    // Whether a keyring answers is worth knowing while the password is being typed.
    connect(EdtMailPass, &QLineEdit::textEdited, this, [this] {
        if (Passwords->isAvailable() && !m_keyringAsked)
            loadPassword();
    });
    // Kept as soon as the dialog closes, not only when the program ends.
    connect(this, &QDialog::finished, this, [this] { storePassword(); });
}

void TToolSettingDlg::buildWatchTab()
{
    TabWatch = named(new QWidget, "TabWatch");
    PageCtrl1->addTab(TabWatch, QStringLiteral("Watch"));
    ruleRow(TabWatch, 48, {&ChkBoxNoReply, "ChkBoxNoReply", "No reply for"},
            {&EditNoReplySec, "EditNoReplySec", SettingsDefaults::NoReplySeconds},
            {&Label13, "Label13", "sec"}, {&MemoNoReply, "MemoNoReply", "Message <No Reply>"});
    ChkBoxRetry =
        named(new QCheckBox(QStringLiteral("送信失敗時に再送する"), TabWatch), "ChkBoxRetry");
    ChkBoxRetry->setGeometry(24, 120, 200, 17);
    ChkBoxLog = named(new QCheckBox(QStringLiteral("CSV に記録"), TabWatch), "ChkBoxLog");
    ChkBoxLog->setGeometry(24, 144, 200, 17);
    ChkBoxNotify =
        named(new QCheckBox(QStringLiteral("デスクトップ通知"), TabWatch), "ChkBoxNotify");
    ChkBoxNotify->setGeometry(24, 168, 200, 17);
    Label14 = label(TabWatch, "Label14", QStringLiteral("Metrics :"), 24, 196);
    EdtMetrics = edit(TabWatch, "EdtMetrics", QString(), {114, 194, 146, 20});
    // Only a suggestion: an empty edit keeps the metrics off.
    EdtMetrics->setPlaceholderText(QStringLiteral("127.0.0.1:9464"));
}

void TToolSettingDlg::settleRuleTexts()
{
    SettledUTemp = new SettledText(EditUTemp);
    SettledLTemp = new SettledText(EditLTemp);
    SettledNoReplySec = new SettledText(EditNoReplySec);
    SettledMetrics = new SettledText(EdtMetrics);
    connect(this, &QDialog::finished, this, [this] {
        for (SettledText* settled : {SettledUTemp, SettledLTemp, SettledNoReplySec, SettledMetrics})
            settled->settle();
    });
}

void TToolSettingDlg::loadPassword()
{
    m_keyringAsked = true;
    Passwords->load(PasswordStore::keyFor(EdtMailSrv->text(), EdtMailId->text()));
}

bool TToolSettingDlg::storePassword(QString* error, int waitMs)
{
    return Passwords->store(PasswordStore::keyFor(EdtMailSrv->text(), EdtMailId->text()),
                            EdtMailPass->text(), error, waitMs);
}

void TToolSettingDlg::showKeyringMissing(const QString& why)
{
    LabelKeyring->setText(QStringLiteral("キーリングなし: 今回のみ保持"));
    LabelKeyring->setToolTip(
        QStringLiteral("パスワードを保存できるキーリングがありません。パスワードはこの実行中だけ"
                       "保持されます。\n") +
        why);
}

void TToolSettingDlg::buildButtons()
{
    Panel2 = named(new QFrame(this), "Panel2");
    Panel2->setGeometry(0, ClientHeight - ButtonPanelHeight, ClientWidth, ButtonPanelHeight);
    OKBtn = named(new QPushButton(QStringLiteral("OK"), Panel2), "OKBtn");
    OKBtn->setGeometry(187, 2, 75, 25);
    OKBtn->setDefault(true);
    CancelBtn = named(new QPushButton(QStringLiteral("キャンセル"), Panel2), "CancelBtn");
    CancelBtn->setGeometry(267, 2, 75, 25);
    // There is no help to show yet; the button stays so the button row keeps its place.
    HelpBtn = named(new QPushButton(QStringLiteral("ヘルプ(&H)"), Panel2), "HelpBtn");
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
        {EdtPicAddr, Label1->text()},     {EdtPicPort, Label2->text()},
        {EdtRdCycle, Label9->text()},     {EditUTemp, ChkBoxUTemp->text()},
        {EditLTemp, ChkBoxLTemp->text()}, {EdtMailSrv, Label3->text()},
        {EdtMailId, Label4->text()},      {EdtMailFrom, Label5->text()},
        {EdtMailTo, Label6->text()},      {EditNoReplySec, ChkBoxNoReply->text()},
        {EdtMetrics, Label14->text()},
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
