#include "gui/Memo.h"
#include "gui/RadioGroup.h"
#include "gui/SettledText.h"
#include "gui/ToolSettingDlg.h"
#include "monitor/MailPassword.h"
#include "monitor/MqttPassword.h"
#include "settings/Settings.h"
#include "web/PasswordHash.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <memory>

using Props = QVariantMap;
using K = Settings::Key;

class TstToolSettingDlg : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controlHasDesignState_data();
    void controlHasDesignState();
    void tabsInOrderFirstActive();
    void radioItems_data();
    void radioItems();
    void radioGroupIndex_data();
    void radioGroupIndex();
    void radioGroupSignalsOncePerChange();
    void radioGroupFollowsClicks();
    void memoLineBreaks_data();
    void memoLineBreaks();
    void closingKeepsEdits_data();
    void closingKeepsEdits();
    void typedLimitComesIntoForceWhenSettled_data();
    void typedLimitComesIntoForceWhenSettled();
    void textComesIntoForceWhenSettled_data();
    void textComesIntoForceWhenSettled();
    void otherControlsEditTheSettingsAtOnce();
    void settingsSetByTheProgramShow_data();
    void settingsSetByTheProgramShow();
    void helpDoesNothing();
    void windowIsFixedAndCentred();
    void withoutAKeyringThePasswordIsForThisRun();
    void storedEditsRefuseWhatTheFileCannotHold_data();
    void storedEditsRefuseWhatTheFileCannotHold();
    void webPasswordIsKeptAsAHashAtOk_data();
    void webPasswordIsKeptAsAHashAtOk();

private:
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<MailPassword> m_passwords;
    std::unique_ptr<MqttPassword> m_mqttPassword;
    std::unique_ptr<TToolSettingDlg> m_dlg;
};

void TstToolSettingDlg::init()
{
    m_settings = std::make_unique<Settings>();
    m_passwords = std::make_unique<MailPassword>(*m_settings);
    m_mqttPassword = std::make_unique<MqttPassword>(*m_settings);
    m_dlg = std::make_unique<TToolSettingDlg>(*m_settings, *m_passwords, *m_mqttPassword);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
}

void TstToolSettingDlg::cleanup()
{
    m_dlg.reset();
    m_mqttPassword.reset();
    m_passwords.reset();
    m_settings.reset();
}

void TstToolSettingDlg::controlHasDesignState_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<Props>("props");
    // An empty size checks only the position: labels size to their text.
    QTest::addColumn<QRect>("geometry");

    const auto right = QVariant::fromValue(Qt::Alignment(Qt::AlignRight));
    const auto row = [](const char* name, const char* cls, const Props& props, QRect geometry) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls) << props
                            << geometry;
    };
    const auto at = [](int x, int y) { return QRect(x, y, 0, 0); };
    // A right-aligned caption whose text ends at x.
    const auto endsAt = [](int x, int y) { return QRect(QPoint(x, y), QSize(-1, 0)); };

    row("Panel1", "QFrame", {}, {0, 0, 427, 266});
    row("PageCtrl1", "QTabWidget", {}, {5, 5, 417, 256});
    row("Panel2", "QFrame", {}, {0, 266, 427, 34});

    row("Label1", "QLabel", {{"text", "ZARVIK IP Address:"}, {"alignment", right}}, at(25, 40));
    row("EdtPicAddr", "QLineEdit", {{"text", "192.168.1.200"}}, {136, 36, 100, 20});
    row("Label2", "QLabel", {{"text", "Port No. :"}, {"alignment", right}}, at(77, 64));
    row("EdtPicPort", "QLineEdit", {{"text", "10001"}}, {136, 60, 100, 20});
    row("Label9", "QLabel", {{"text", "Read Cycle :"}, {"alignment", right}}, at(59, 112));
    row("EdtRdCycle", "QLineEdit", {{"text", "5000"}}, {136, 106, 50, 20});
    row("Label10", "QLabel", {{"text", "mSec"}}, at(192, 112));
    row("Label40", "QLabel", {{"text", "Language :"}, {"alignment", right}}, endsAt(132, 138));
    row("CmbLanguage", "QComboBox",
        {{"currentIndex", 0}, {"currentText", "システムに合わせる"}, {"count", 3}},
        {136, 134, 146, 20});
    row("Label41", "QLabel", {{"text", "次回の起動から有効です"}}, at(136, 160));

    row("ChkBoxUTemp", "QCheckBox", {{"text", "Upper Temp"}, {"checked", false}}, {24, 48, 85, 17});
    row("EditUTemp", "QLineEdit", {{"text", "100"}}, {114, 46, 40, 20});
    row("Label7", "QLabel", {{"text", "℃"}}, at(164, 48));
    row("MemoUTemp", "Memo", {{"text", "Message <Upper Temp>"}}, {200, 40, 185, 65});
    row("ChkBoxLTemp", "QCheckBox", {{"text", "Lower Temp"}, {"checked", false}},
        {24, 144, 85, 17});
    row("EditLTemp", "QLineEdit", {{"text", "0"}}, {114, 142, 40, 20});
    row("Label8", "QLabel", {{"text", "℃"}}, at(164, 144));
    row("MemoLTemp", "Memo", {{"text", "Message <Lower Temp>"}}, {200, 136, 185, 65});
    row("Label25", "QLabel", {{"text", "Offset :"}}, at(24, 204));
    row("EditOffset", "QLineEdit", {{"text", "0"}}, {114, 202, 40, 20});
    row("Label26", "QLabel", {{"text", "℃"}}, at(164, 204));

    row("RGrpRB1", "RadioGroup", {{"title", "RB1"}, {"itemIndex", 2}}, {32, 24, 150, 80});
    row("MemoChgRB1", "Memo", {{"text", "Message <Change RB1>\r\n"}}, {192, 24, 185, 81});
    row("RGrpRB0", "RadioGroup", {{"title", "RB0"}, {"itemIndex", 2}}, {32, 120, 150, 80});
    row("MemoChgRB0", "Memo", {{"text", "Message <Change RB0>"}}, {192, 120, 185, 81});

    row("Label3", "QLabel", {{"text", "SMTP Server :"}, {"alignment", right}}, at(23, 24));
    row("EdtMailSrv", "QLineEdit", {{"text", ""}}, {104, 20, 250, 20});
    row("Label4", "QLabel", {{"text", "User ID :"}, {"alignment", right}}, at(51, 56));
    row("EdtMailId", "QLineEdit", {{"text", ""}}, {104, 52, 250, 20});
    row("Label5", "QLabel", {{"text", "From :"}, {"alignment", right}}, at(64, 88));
    row("EdtMailFrom", "QLineEdit", {{"text", ""}}, {104, 84, 250, 20});
    row("Label6", "QLabel", {{"text", "To :"}, {"alignment", right}}, at(77, 120));
    row("EdtMailTo", "QLineEdit", {{"text", ""}}, {104, 116, 250, 20});
    row("RGrpPrty", "RadioGroup", {{"title", "Priority"}, {"itemIndex", 2}}, {24, 144, 113, 81});
    row("Label11", "QLabel", {{"text", "Password :"}, {"alignment", right}}, endsAt(204, 148));
    row("EdtMailPass", "QLineEdit",
        {{"text", ""}, {"echoMode", QVariant::fromValue(QLineEdit::Password)}},
        {208, 144, 146, 20});
    row("Label12", "QLabel", {{"text", "Security :"}, {"alignment", right}}, endsAt(204, 172));
    row("CmbMailSec", "QComboBox", {{"currentIndex", 0}, {"currentText", "Auto"}, {"count", 4}},
        {208, 168, 146, 20});
    row("BtnTestMail", "QPushButton", {{"text", "テスト送信"}}, {279, 196, 75, 25});
    row("ChkBoxNoReply", "QCheckBox", {{"text", "No reply for"}, {"checked", false}},
        {24, 48, 85, 17});
    row("EditNoReplySec", "QLineEdit", {{"text", "60"}}, {114, 46, 40, 20});
    row("Label13", "QLabel", {{"text", "sec"}}, at(164, 48));
    row("MemoNoReply", "Memo", {{"text", "Message <No Reply>"}}, {200, 40, 185, 65});
    row("ChkBoxRetry", "QCheckBox", {{"text", "送信失敗時に再送する"}, {"checked", false}},
        {24, 120, 200, 17});
    row("ChkBoxLog", "QCheckBox", {{"text", "CSV に記録"}, {"checked", false}}, {24, 144, 200, 17});
    row("ChkBoxNotify", "QCheckBox", {{"text", "デスクトップ通知"}, {"checked", false}},
        {24, 168, 200, 17});
    row("Label14", "QLabel", {{"text", "Metrics :"}}, at(24, 196));
    row("EdtMetrics", "QLineEdit", {{"text", ""}, {"placeholderText", "127.0.0.1:9464"}},
        {114, 194, 146, 20});
    row("ChkBoxReArm", "QCheckBox", {{"text", "自動で再監視"}, {"checked", false}},
        {236, 120, 100, 17});
    row("EditReArmSec", "QLineEdit", {{"text", "60"}}, {340, 118, 40, 20});
    row("Label15", "QLabel", {{"text", "sec"}}, at(386, 120));
    row("Label16", "QLabel", {{"text", "Hysteresis :"}, {"alignment", right}}, endsAt(334, 144));
    row("EditHysteresis", "QLineEdit", {{"text", "1"}}, {340, 142, 40, 20});
    row("Label17", "QLabel", {{"text", "℃"}}, at(386, 144));
    row("Label18", "QLabel", {{"text", "Remind every :"}, {"alignment", right}}, endsAt(334, 168));
    row("EditRemindMin", "QLineEdit", {{"text", "0"}}, {340, 166, 40, 20});
    row("Label19", "QLabel", {{"text", "min"}}, at(386, 168));
    row("Label20", "QLabel", {{"text", "ntfy :"}}, at(24, 50));
    row("EdtNtfy", "QLineEdit", {{"text", ""}, {"placeholderText", "https://ntfy.sh/topic"}},
        {114, 48, 280, 20});
    row("Label21", "QLabel", {{"text", "Webhook :"}}, at(24, 82));
    row("EdtWebhook", "QLineEdit", {{"text", ""}}, {114, 80, 280, 20});
    row("Label22", "QLabel", {{"text", "Telegram :"}}, at(24, 114));
    row("EdtTelegramToken", "QLineEdit",
        {{"text", ""}, {"echoMode", QVariant::fromValue(QLineEdit::Password)}},
        {114, 112, 280, 20});
    row("Label23", "QLabel", {{"text", "Chat ID :"}}, at(24, 146));
    row("EdtTelegramChat", "QLineEdit", {{"text", ""}}, {114, 144, 146, 20});
    row("Label24", "QLabel", {{"text", "Bot API :"}}, at(24, 178));
    row("EdtTelegramApi", "QLineEdit",
        {{"text", ""}, {"placeholderText", "https://api.telegram.org"}}, {114, 176, 280, 20});
    row("Label27", "QLabel", {{"text", "Subject :"}}, at(24, 50));
    row("EdtSubject", "QLineEdit", {{"text", ""}}, {114, 48, 280, 20});
    row("Label28", "QLabel", {{"text", "Body :"}}, at(24, 82));
    row("EdtBody", "QLineEdit", {{"text", ""}}, {114, 80, 280, 20});
    row("Label29", "QLabel", {{"text", "Broker :"}}, at(24, 34));
    row("EdtMqttBroker", "QLineEdit", {{"text", ""}, {"placeholderText", "mqtt://127.0.0.1:1883"}},
        {114, 32, 280, 20});
    row("Label30", "QLabel", {{"text", "User :"}}, at(24, 62));
    row("EdtMqttUser", "QLineEdit", {{"text", ""}}, {114, 60, 146, 20});
    row("Label31", "QLabel", {{"text", "Password :"}}, at(24, 90));
    row("EdtMqttPass", "QLineEdit",
        {{"text", ""}, {"echoMode", QVariant::fromValue(QLineEdit::Password)}}, {114, 88, 146, 20});
    row("Label32", "QLabel", {{"text", "Prefix :"}}, at(24, 118));
    row("EdtMqttPrefix", "QLineEdit", {{"text", "homeassistant"}}, {114, 116, 146, 20});
    row("Label33", "QLabel", {{"text", "Node ID :"}}, at(24, 146));
    row("EdtMqttNodeId", "QLineEdit", {{"text", ""}}, {114, 144, 146, 20});
    row("ChkBoxMqttCommands", "QCheckBox",
        {{"text", "Home Assistant からの操作を受け付ける"}, {"checked", false}},
        {24, 176, 370, 17});
    row("Label34", "QLabel", {{"text", "Listen :"}}, at(24, 34));
    row("EdtWebListen", "QLineEdit", {{"text", ""}, {"placeholderText", "127.0.0.1:8080"}},
        {114, 32, 280, 20});
    row("Label35", "QLabel", {{"text", "User :"}}, at(24, 62));
    row("EdtWebUser", "QLineEdit", {{"text", ""}}, {114, 60, 146, 20});
    row("Label36", "QLabel", {{"text", "Password :"}}, at(24, 90));
    row("EdtWebPass", "QLineEdit",
        {{"text", ""},
         {"placeholderText", ""},
         {"echoMode", QVariant::fromValue(QLineEdit::Password)}},
        {114, 88, 146, 20});
    row("Label37", "QLabel", {{"text", "Cert file :"}}, at(24, 118));
    row("EdtWebCert", "QLineEdit", {{"text", ""}}, {114, 116, 280, 20});
    row("Label38", "QLabel", {{"text", "Key file :"}}, at(24, 146));
    row("EdtWebKey", "QLineEdit", {{"text", ""}}, {114, 144, 280, 20});
    row("Label39", "QLabel",
        {{"text", "HTTPS とログインが無い場合はループバックのみで公開されます"}},
        {24, 174, 370, 36});

    row("OKBtn", "QPushButton", {{"text", "OK"}, {"default", true}}, {187, 2, 75, 25});
    row("CancelBtn", "QPushButton", {{"text", "キャンセル"}, {"default", false}}, {267, 2, 75, 25});
    row("HelpBtn", "QPushButton", {{"text", "ヘルプ(&H)"}, {"default", false}}, {347, 2, 75, 25});
}

void TstToolSettingDlg::withoutAKeyringThePasswordIsForThisRun()
{
    // This test's session bus does not exist, as on a machine without a desktop.
    QVERIFY(m_dlg->LabelKeyring->text().isEmpty());
    QTest::keyClicks(m_dlg->EdtMailPass, "pw");
    QTRY_VERIFY(!m_dlg->LabelKeyring->text().isEmpty());
    // The whole note shows, within its tab.
    const QLabel* note = m_dlg->LabelKeyring;
    QVERIFY2(note->heightForWidth(note->width()) <= note->height(),
             qPrintable(QStringLiteral("%1 px of text in %2 px")
                            .arg(note->heightForWidth(note->width()))
                            .arg(note->height())));
    QVERIFY(note->parentWidget()->rect().contains(note->geometry()));
    QCOMPARE(m_dlg->EdtMailPass->text(), QStringLiteral("pw"));
    QCOMPARE(m_settings->text(K::MailPassword), QStringLiteral("pw"));
    // Closing the dialog tries to keep it, and says why it could not.
    QSignalSpy stored(m_passwords.get(), &MailPassword::stored);
    QTest::keyClick(m_dlg->EdtMailPass, Qt::Key_Escape);
    QVERIFY(stored.wait());
    QCOMPARE(stored.at(0).at(0).toBool(), false);
    const QString error = stored.at(0).at(1).toString();
    QVERIFY2(!error.isEmpty() && !error.contains(QStringLiteral("pw")), qPrintable(error));
    QCOMPARE(m_settings->text(K::MailPassword), QStringLiteral("pw"));
}

void TstToolSettingDlg::controlHasDesignState()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(Props, props);
    QFETCH(QRect, geometry);

    const QList<QWidget*> found = m_dlg->findChildren<QWidget*>(name);
    QCOMPARE(found.size(), 1);
    QWidget* widget = found.first();
    QVERIFY2(widget->inherits(className.toLatin1().constData()), widget->metaObject()->className());

    for (auto it = props.cbegin(); it != props.cend(); ++it) {
        const QVariant actual = widget->property(it.key().toLatin1().constData());
        QVERIFY2(actual.isValid(), qPrintable(it.key()));
        if (it.key() == QLatin1String("alignment")) {
            QCOMPARE(actual.value<Qt::Alignment>() & Qt::AlignHorizontal_Mask,
                     it.value().value<Qt::Alignment>());
        } else {
            QCOMPARE(actual, it.value());
        }
    }

    if (geometry.width() < 0)
        QCOMPARE(QPoint(widget->geometry().right() + 1, widget->y()), geometry.topLeft());
    else if (geometry.size().isEmpty())
        QCOMPARE(widget->pos(), geometry.topLeft());
    else
        QCOMPARE(widget->geometry(), geometry);
}

void TstToolSettingDlg::tabsInOrderFirstActive()
{
    const QStringList names{"TabZARVIK", "TabTemp",  "TabSensor", "TabMAIL", "TabWatch",
                            "TabPush",   "TabWords", "TabMqtt",   "TabWeb"};
    const QStringList captions{"ZARVIK", "Temp",  "Sensor", "MAIL", "Watch",
                               "Push",   "Words", "MQTT",   "Web"};
    QTabWidget* tabs = m_dlg->PageCtrl1;
    QCOMPARE(tabs->count(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(tabs->widget(i)->objectName(), names[i]);
        QCOMPARE(tabs->tabText(i), captions[i]);
        QCOMPARE(m_dlg->findChild<QWidget*>(names[i]), tabs->widget(i));
    }
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(m_dlg->EdtPicAddr->isVisible());
    QVERIFY(!m_dlg->EditUTemp->isVisible());
    // Each control sits on its own page.
    QVERIFY(m_dlg->TabTemp->isAncestorOf(m_dlg->MemoLTemp));
    QVERIFY(m_dlg->TabSensor->isAncestorOf(m_dlg->RGrpRB0));
    QVERIFY(m_dlg->TabMAIL->isAncestorOf(m_dlg->RGrpPrty));
    QVERIFY(m_dlg->TabMqtt->isAncestorOf(m_dlg->ChkBoxMqttCommands));
    QVERIFY(m_dlg->TabWeb->isAncestorOf(m_dlg->EdtWebKey));
    QVERIFY(m_dlg->Panel2->isAncestorOf(m_dlg->HelpBtn));
    // The last tab's caption shows whole, and the offset's row stays within its page.
    QVERIFY(tabs->tabBar()->tabRect(tabs->count() - 1).right() < tabs->width());
    QVERIFY(m_dlg->TabTemp->rect().contains(m_dlg->EditOffset->geometry()));
    // The web page's note shows whole, within its page.
    m_dlg->PageCtrl1->setCurrentWidget(m_dlg->TabWeb);
    const QLabel* note = m_dlg->Label39;
    QVERIFY(note->heightForWidth(note->width()) <= note->height());
    for (const QWidget* child : m_dlg->TabWeb->findChildren<QWidget*>())
        QVERIFY2(m_dlg->TabWeb->rect().contains(child->geometry()),
                 qPrintable(child->objectName()));
}

void TstToolSettingDlg::radioItems_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QStringList>("items");
    const QStringList sensor{"\"H\"で発信", "\"L\"で発信", "発信しない"};
    QTest::newRow("RB1") << "RGrpRB1" << sensor;
    QTest::newRow("RB0") << "RGrpRB0" << sensor;
    QTest::newRow("Priority") << "RGrpPrty" << QStringList{"High", "Normal", "Low"};
}

void TstToolSettingDlg::radioItems()
{
    QFETCH(QString, group);
    QFETCH(QStringList, items);
    auto* box = m_dlg->findChild<RadioGroup*>(group);
    QVERIFY(box);
    QCOMPARE(box->count(), items.size());
    for (int i = 0; i < items.size(); ++i) {
        auto* button = box->findChild<QRadioButton*>(group + "Item" + QString::number(i));
        QVERIFY2(button, qPrintable(QString::number(i)));
        QCOMPARE(button->text(), items[i]);
        QCOMPARE(box->itemText(i), items[i]);
        QCOMPARE(button->isChecked(), i == 2);
    }
    QCOMPARE(box->findChildren<QRadioButton*>().size(), items.size());
}

void TstToolSettingDlg::radioGroupIndex_data()
{
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("expected");
    QTest::newRow("first") << 0 << 0;
    QTest::newRow("middle") << 1 << 1;
    QTest::newRow("last") << 2 << 2;
    QTest::newRow("none") << -1 << -1;
    QTest::newRow("one past the end") << 3 << -1;
    QTest::newRow("far out") << 7 << -1;
    QTest::newRow("negative") << -2 << -1;
}

void TstToolSettingDlg::radioGroupIndex()
{
    QFETCH(int, set);
    QFETCH(int, expected);
    // Start from every index so unchecking is tried from each button.
    for (int start = -1; start < 3; ++start) {
        RadioGroup* group = m_dlg->RGrpRB1;
        group->setItemIndex(start);
        QCOMPARE(group->itemIndex(), start);
        group->setItemIndex(set);
        QCOMPARE(group->itemIndex(), expected);
        for (int i = 0; i < group->count(); ++i) {
            auto* button = group->findChild<QRadioButton*>("RGrpRB1Item" + QString::number(i));
            QCOMPARE(button->isChecked(), i == expected);
        }
    }
}

void TstToolSettingDlg::radioGroupSignalsOncePerChange()
{
    RadioGroup* group = m_dlg->RGrpPrty;
    QSignalSpy spy(group, &RadioGroup::itemIndexChanged);
    group->setItemIndex(0);
    group->setItemIndex(0);
    group->setItemIndex(-1);
    group->setItemIndex(9);
    group->setItemIndex(1);
    QCOMPARE(spy.size(), 3);
    QCOMPARE(spy.at(0).at(0).toInt(), 0);
    QCOMPARE(spy.at(1).at(0).toInt(), -1);
    QCOMPARE(spy.at(2).at(0).toInt(), 1);
}

void TstToolSettingDlg::radioGroupFollowsClicks()
{
    m_dlg->PageCtrl1->setCurrentWidget(m_dlg->TabSensor);
    RadioGroup* group = m_dlg->RGrpRB0;
    group->setItemIndex(-1);
    QSignalSpy spy(group, &RadioGroup::itemIndexChanged);
    auto* first = group->findChild<QRadioButton*>("RGrpRB0Item0");
    QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(5, first->height() / 2));
    QCOMPARE(group->itemIndex(), 0);
    auto* second = group->findChild<QRadioButton*>("RGrpRB0Item1");
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(5, second->height() / 2));
    QCOMPARE(group->itemIndex(), 1);
    QVERIFY(!first->isChecked());
    QCOMPARE(spy.size(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 1);
    // The neighbouring group is not disturbed.
    QCOMPARE(m_dlg->RGrpRB1->itemIndex(), 2);
}

void TstToolSettingDlg::memoLineBreaks_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lines");
    QTest::newRow("one line") << "abc"
                              << "abc" << 1;
    QTest::newRow("empty") << ""
                           << "" << 1;
    QTest::newRow("CR LF") << "a\r\nb"
                           << "a\r\nb" << 2;
    QTest::newRow("LF") << "a\nb"
                        << "a\r\nb" << 2;
    QTest::newRow("CR") << "a\rb"
                        << "a\r\nb" << 2;
    QTest::newRow("mixed") << "a\rb\nc\r\nd"
                           << "a\r\nb\r\nc\r\nd" << 4;
    QTest::newRow("trailing empty line") << "a\r\n"
                                         << "a\r\n"
                                         << 2;
    QTest::newRow("blank lines") << "\r\n\r\nx"
                                 << "\r\n\r\nx" << 3;
    QTest::newRow("Japanese") << "温度\n異常"
                              << "温度\r\n異常" << 2;
}

void TstToolSettingDlg::memoLineBreaks()
{
    QFETCH(QString, input);
    QFETCH(QString, text);
    QFETCH(int, lines);
    Memo* memo = m_dlg->MemoUTemp;
    memo->setText(input);
    QCOMPARE(memo->text(), text);
    QCOMPARE(memo->blockCount(), lines);
}

void TstToolSettingDlg::closingKeepsEdits_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("OK click") << "ok" << int(QDialog::Accepted);
    QTest::newRow("Cancel click") << "cancel" << int(QDialog::Rejected);
    QTest::newRow("Esc") << "esc" << int(QDialog::Rejected);
    QTest::newRow("Enter") << "enter" << int(QDialog::Accepted);
}

void TstToolSettingDlg::closingKeepsEdits()
{
    QFETCH(QString, how);
    QFETCH(int, result);

    m_dlg->activateWindow();
    m_dlg->PageCtrl1->setCurrentWidget(m_dlg->TabSensor);
    auto* first = m_dlg->RGrpRB1->findChild<QRadioButton*>("RGrpRB1Item0");
    QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(5, first->height() / 2));
    m_dlg->PageCtrl1->setCurrentWidget(m_dlg->TabTemp);
    QTest::mouseClick(m_dlg->MemoUTemp->viewport(), Qt::LeftButton);
    QTest::keyClick(m_dlg->MemoUTemp, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(m_dlg->MemoUTemp, "hot");
    QTest::mouseClick(m_dlg->ChkBoxUTemp, Qt::LeftButton, {}, QPoint(5, 8));
    // The limit last, so that nothing but the closing brings it into force.
    m_dlg->EditUTemp->setFocus();
    m_dlg->EditUTemp->selectAll();
    QTest::keyClicks(m_dlg->EditUTemp, "85x");
    QCOMPARE(m_dlg->EditUTemp->text(), QString("85x"));
    QVERIFY(m_dlg->ChkBoxUTemp->isChecked());

    QSignalSpy finished(m_dlg.get(), &QDialog::finished);
    if (how == "ok")
        QTest::mouseClick(m_dlg->OKBtn, Qt::LeftButton);
    else if (how == "cancel")
        QTest::mouseClick(m_dlg->CancelBtn, Qt::LeftButton);
    else if (how == "esc")
        QTest::keyClick(m_dlg->EditUTemp, Qt::Key_Escape);
    else
        QTest::keyClick(m_dlg->EditUTemp, Qt::Key_Return);

    QCOMPARE(finished.size(), 1);
    QCOMPARE(m_dlg->result(), result);
    QVERIFY(!m_dlg->isVisible());
    // Nothing is validated or reverted: what was typed is in the settings, Cancel or not.
    QCOMPARE(m_settings->text(K::UpperLimit), QString("85x"));
    QVERIFY(m_settings->flag(K::CheckUpper));
    QCOMPARE(m_settings->text(K::MemoUpper), QString("hot"));
    QCOMPARE(m_settings->number(K::Rb1), 0);

    // The dialog shows them again, too.
    m_dlg->show();
    QCOMPARE(m_dlg->EditUTemp->text(), QString("85x"));
    QCOMPARE(m_dlg->MemoUTemp->text(), QString("hot"));
    QCOMPARE(m_dlg->RGrpRB1->itemIndex(), 0);
}

void TstToolSettingDlg::typedLimitComesIntoForceWhenSettled_data()
{
    // Keys typed into the upper limit, from "100": "|" settles (as a pause would), "^A" selects
    // all, "^V" pastes "45", "^Z" undoes; "<End>", "<BS>", "<Del>", "<Home>" are those keys, any
    // other letter is typed. After every key the text in force must be the last settled one.
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("settled");
    QTest::newRow("select all and type") << "^A40"
                                         << "40";
    QTest::newRow("BackSpace to empty") << "<End><BS><BS><BS>"
                                        << "";
    QTest::newRow("Delete") << "<Home><Del>"
                            << "00";
    QTest::newRow("paste") << "^A^V"
                           << "45";
    QTest::newRow("undo") << "<End>7^Z"
                          << "100";
    QTest::newRow("second edit after a settle") << "^A50|^A45"
                                                << "45";
    QTest::newRow("three edits") << "<End><BS>|^A4|<End>2"
                                 << "42";
}

void TstToolSettingDlg::typedLimitComesIntoForceWhenSettled()
{
    QFETCH(QString, keys);
    QFETCH(QString, settled);
    QApplication::clipboard()->setText(QStringLiteral("45"));
    m_dlg->PageCtrl1->setCurrentWidget(m_dlg->TabTemp);
    m_dlg->activateWindow();
    QLineEdit* edit = m_dlg->EditUTemp;
    auto* settledText = m_dlg->findChild<SettledText*>("SettledUTemp");
    QVERIFY(settledText);
    edit->setFocus();
    QCOMPARE(m_settings->text(K::UpperLimit), QStringLiteral("100"));

    static const QHash<QString, Qt::Key> named = {{"End", Qt::Key_End},
                                                  {"Home", Qt::Key_Home},
                                                  {"BS", Qt::Key_Backspace},
                                                  {"Del", Qt::Key_Delete}};
    QString inForce = QStringLiteral("100");
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QChar c = keys.at(i);
        if (c == u'|') {
            settledText->settle();
            inForce = edit->text();
        } else if (c == u'^') {
            QTest::keyClick(edit, keys.at(++i).toLatin1(), Qt::ControlModifier);
        } else if (c == u'<') {
            const qsizetype end = keys.indexOf(u'>', i);
            QTest::keyClick(edit, named.value(keys.mid(i + 1, end - i - 1)));
            i = end;
        } else {
            QTest::keyClick(edit, c.toLatin1());
        }
        QCoreApplication::processEvents();
        QVERIFY2(m_settings->text(K::UpperLimit) == inForce,
                 qPrintable(QStringLiteral("after key %1 of \"%2\": \"%3\" in force, not \"%4\"")
                                .arg(i)
                                .arg(keys, m_settings->text(K::UpperLimit), inForce)));
    }
    // The pause brings the typed text into force, told once (not at all when it is the text in
    // force already).
    QSignalSpy changed(m_settings.get(), &Settings::changed);
    QSignalSpy paused(settledText, &SettledText::settled);
    QVERIFY(paused.wait(SettledText::PauseMs * 3));
    QCOMPARE(m_settings->text(K::UpperLimit), settled);
    QCoreApplication::processEvents();
    QCOMPARE(changed.size(), settled == inForce ? 0 : 1);
    if (!changed.isEmpty())
        QCOMPARE(changed.at(0).at(0).value<K>(), K::UpperLimit);
}

void TstToolSettingDlg::textComesIntoForceWhenSettled_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("settled");
    QTest::addColumn<QString>("typed");
    // A half-typed URL never receives a push.
    QTest::newRow("ntfy") << int(K::PushNtfy) << "EdtNtfy"
                          << "SettledNtfy"
                          << "http://127.0.0.1/a";
    // Neither "-" nor "{tem" is told as a mistake on the way.
    QTest::newRow("offset") << int(K::TempOffset) << "EditOffset"
                            << "SettledOffset"
                            << "-1.5";
    QTest::newRow("subject") << int(K::MailSubject) << "EdtSubject"
                             << "SettledSubject"
                             << "{subject} at {temperature}";
    // A half-typed broker is never connected to.
    QTest::newRow("MQTT broker") << int(K::MqttBroker) << "EdtMqttBroker"
                                 << "SettledMqttBroker"
                                 << "mqtt://127.0.0.1:1883";
    // A half-typed address is never listened on.
    QTest::newRow("web listen") << int(K::WebListen) << "EdtWebListen"
                                << "SettledWebListen"
                                << "127.0.0.1:8080";
    QTest::newRow("web key file") << int(K::WebKeyFile) << "EdtWebKey"
                                  << "SettledWebKey"
                                  << "/etc/zarvik/key.pem";
}

void TstToolSettingDlg::textComesIntoForceWhenSettled()
{
    QFETCH(int, key);
    QFETCH(QString, edit);
    QFETCH(QString, settled);
    QFETCH(QString, typed);
    auto* field = m_dlg->findChild<QLineEdit*>(edit);
    QVERIFY(field);
    m_dlg->PageCtrl1->setCurrentWidget(field->parentWidget());
    m_dlg->activateWindow();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    const QString before = m_settings->text(K(key));
    QSignalSpy paused(m_dlg->findChild<SettledText*>(settled), &SettledText::settled);
    QTest::keyClicks(field, typed);
    QCOMPARE(m_settings->text(K(key)), before);
    QVERIFY(paused.wait(SettledText::PauseMs * 3));
    QCOMPARE(m_settings->text(K(key)), typed);
}

void TstToolSettingDlg::otherControlsEditTheSettingsAtOnce()
{
    m_dlg->activateWindow();
    m_dlg->EdtPicPort->setFocus();
    m_dlg->EdtPicPort->end(false);
    QTest::keyClick(m_dlg->EdtPicPort, Qt::Key_Backspace);
    QCOMPARE(m_settings->text(K::BoardPort), QStringLiteral("1000"));
    QTest::keyClick(m_dlg->EdtPicPort, Qt::Key_2);
    QCOMPARE(m_settings->text(K::BoardPort), QStringLiteral("10002"));
    m_dlg->CmbLanguage->setFocus();
    QTest::keyClick(m_dlg->CmbLanguage, Qt::Key_Down);
    QCOMPARE(m_settings->text(K::UiLanguage), QStringLiteral("ja"));

    m_dlg->PageCtrl1->setCurrentWidget(m_dlg->TabMAIL);
    m_dlg->CmbMailSec->setFocus();
    QTest::keyClick(m_dlg->CmbMailSec, Qt::Key_Down);
    QCOMPARE(m_settings->number(K::MailSecurity), 1);
    auto* high = m_dlg->RGrpPrty->findChild<QRadioButton*>("RGrpPrtyItem0");
    QTest::mouseClick(high, Qt::LeftButton, {}, QPoint(5, high->height() / 2));
    QCOMPARE(m_settings->number(K::Priority), 0);

    m_dlg->PageCtrl1->setCurrentWidget(m_dlg->TabWatch);
    QTest::mouseClick(m_dlg->ChkBoxLog, Qt::LeftButton, {}, QPoint(5, 8));
    QVERIFY(m_settings->flag(K::Log));
    QTest::keyClick(m_dlg->ChkBoxLog, Qt::Key_Space);
    QVERIFY(!m_settings->flag(K::Log));
    QTest::mouseClick(m_dlg->ChkBoxReArm, Qt::LeftButton, {}, QPoint(5, 8));
    QVERIFY(m_settings->flag(K::ReArm));
    // The numbers beside it count at Enter, as the limits do.
    for (const auto& [edit, key] :
         {std::pair{m_dlg->EditHysteresis, K::Hysteresis}, {m_dlg->EditRemindMin, K::RemindMin}}) {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, QStringLiteral("0.5"));
        QCOMPARE(m_settings->text(key), Settings::defaultValue(key).toString());
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(m_settings->text(key), QStringLiteral("0.5"));
    }
    // The captions sit beside, not on, the check boxes of the rows they share.
    for (QLabel* caption : {m_dlg->Label16, m_dlg->Label18})
        for (QCheckBox* box : {m_dlg->ChkBoxRetry, m_dlg->ChkBoxLog, m_dlg->ChkBoxNotify})
            QVERIFY(caption->x() > box->x() + box->sizeHint().width());
}

void TstToolSettingDlg::settingsSetByTheProgramShow_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("value");
    const auto row = [](K key, const char* name, const char* property, const QVariant& value) {
        QTest::newRow(name) << int(key) << QString(name) << QString(property) << value;
    };
    row(K::BoardAddress, "EdtPicAddr", "text", "127.0.0.1");
    row(K::UpperLimit, "EditUTemp", "text", "38");
    row(K::Metrics, "EdtMetrics", "text", "127.0.0.1:9464");
    row(K::Hysteresis, "EditHysteresis", "text", "0.5");
    row(K::ReArm, "ChkBoxReArm", "checked", true);
    row(K::PushWebhook, "EdtWebhook", "text", "https://discord.com/api/webhooks/1/a");
    row(K::PushTelegramToken, "EdtTelegramToken", "text", "123456:ABC-DEF");
    row(K::TempOffset, "EditOffset", "text", "-1.5");
    row(K::MailBody, "EdtBody", "text", R"({message}\n{memo})");
    row(K::CheckLower, "ChkBoxLTemp", "checked", true);
    row(K::Rb0, "RGrpRB0", "itemIndex", -1);
    row(K::MailSecurity, "CmbMailSec", "currentIndex", 3);
    row(K::UiLanguage, "CmbLanguage", "currentData", "en");
    row(K::MailPassword, "EdtMailPass", "text", "s3cret");
    row(K::MemoRb1, "MemoChgRB1", "text", "door\r\nopen");
    row(K::MqttPassword, "EdtMqttPass", "text", "mq-s3cret");
    row(K::MqttNodeId, "EdtMqttNodeId", "text", "zarvik_0a1b2c3d");
    row(K::MqttCommands, "ChkBoxMqttCommands", "checked", true);
    row(K::WebListen, "EdtWebListen", "text", "0.0.0.0:8443");
    row(K::WebUser, "EdtWebUser", "text", "admin");
    row(K::WebCertFile, "EdtWebCert", "text", "/etc/zarvik/cert.pem");
    row(K::WebKeyFile, "EdtWebKey", "text", "/etc/zarvik/key.pem");
}

void TstToolSettingDlg::settingsSetByTheProgramShow()
{
    QFETCH(int, key);
    QFETCH(QString, name);
    QFETCH(QString, property);
    QFETCH(QVariant, value);
    auto* widget = m_dlg->findChild<QWidget*>(name);
    QVERIFY(widget);
    QSignalSpy changed(m_settings.get(), &Settings::changed);
    m_settings->setValue(K(key), value);
    QCOMPARE(widget->property(property.toLatin1()), value);
    // In force at once: showing it does not change it again.
    QCOMPARE(m_settings->value(K(key)), value);
    QCoreApplication::processEvents();
    QCOMPARE(changed.size(), 1);

    // A dialog made later shows the value too.
    TToolSettingDlg later(*m_settings, *m_passwords, *m_mqttPassword);
    QCOMPARE(later.findChild<QWidget*>(name)->property(property.toLatin1()), value);
}

void TstToolSettingDlg::helpDoesNothing()
{
    m_settings->setValue(K::BoardPort, "20002");
    QSignalSpy finished(m_dlg.get(), &QDialog::finished);
    QTest::mouseClick(m_dlg->HelpBtn, Qt::LeftButton);
    QTest::keyClick(m_dlg.get(), Qt::Key_H, Qt::AltModifier);
    QCoreApplication::processEvents();
    QVERIFY(m_dlg->isVisible());
    QCOMPARE(finished.size(), 0);
    QCOMPARE(m_dlg->EdtPicPort->text(), QString("20002"));
    const QWidgetList windows = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windows.cbegin(), windows.cend(),
                           [](const QWidget* w) { return w->isVisible(); }),
             1);
}

void TstToolSettingDlg::windowIsFixedAndCentred()
{
    QCOMPARE(m_dlg->objectName(), QString("ToolSettingDlg"));
    QCOMPARE(m_dlg->windowTitle(), QString("設定"));
    QCOMPARE(m_dlg->size(), QSize(427, 300));
    QCOMPARE(m_dlg->minimumSize(), QSize(427, 300));
    QCOMPARE(m_dlg->maximumSize(), QSize(427, 300));
    QCOMPARE(m_dlg->font().families().value(0), QString("MS PGothic"));
    QVERIFY(m_dlg->font().families().contains("Noto Sans CJK JP"));
    QCOMPARE(m_dlg->font().pixelSize(), 12);

    const QPoint centre = m_dlg->screen()->availableGeometry().center();
    QVERIFY((m_dlg->frameGeometry().center() - centre).manhattanLength() <= 2);
    // Moved away and shown again, it comes back to the centre.
    m_dlg->hide();
    m_dlg->move(3, 4);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QVERIFY((m_dlg->frameGeometry().center() - centre).manhattanLength() <= 2);
}

void TstToolSettingDlg::storedEditsRefuseWhatTheFileCannotHold_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption"); // empty: a memo, which takes anything
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("paste"); // else typed, one key per character, at the end
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("accepted");

    const QString mueller = QString::fromUtf8("Müller <new@example.jp>");
    const QString emoji = QString::fromUtf8("😀");
    const QString full(32767, u'a');
    const auto row = [](const char* tag, const char* name, const char* caption,
                        const QString& before, bool paste, const QString& input, bool accepted) {
        QTest::newRow(tag) << QString(name) << QString(caption) << before << paste << input
                           << accepted;
    };
    // Refused: characters CP932 cannot hold, in each stored edit.
    row("address, typed ü", "EdtPicAddr", "ZARVIK IP Address:", "10.0.0.1", false, "ü", false);
    row("port, pasted emoji", "EdtPicPort", "Port No. :", "10001", true, "1" + emoji, false);
    row("cycle, typed ü", "EdtRdCycle", "Read Cycle :", "5000", false, "ü", false);
    row("upper, pasted emoji", "EditUTemp", "Upper Temp", "100", true, emoji, false);
    row("lower, typed ü", "EditLTemp", "Lower Temp", "0", false, "ü", false);
    row("server, pasted hangul", "EdtMailSrv", "SMTP Server :", "smtp", true, "한", false);
    row("user, typed ü", "EdtMailId", "User ID :", "id", false, "ü", false);
    row("from, typed emoji", "EdtMailFrom", "From :", "me@example.jp", false, emoji, false);
    row("to, pasted Müller", "EdtMailTo", "To :", "old@example.jp", true, mueller, false);
    row("broker, typed ü", "EdtMqttBroker", "Broker :", "mqtt://h", false, "ü", false);
    row("listen, typed ü", "EdtWebListen", "Listen :", "127.0.0.1:80", false, "ü", false);
    row("cert, pasted emoji", "EdtWebCert", "Cert file :", "/c.pem", true, emoji, false);
    // Refused: longer than 32,767 characters, which the edit would cut short.
    row("to, pasted 32,768", "EdtMailTo", "To :", "old", true, QString(32768, u'x'), false);
    row("to, typed past 32,767", "EdtMailTo", "To :", full, false, "b", false);
    // Accepted: what CP932 holds, up to the limit.
    row("to, pasted Japanese", "EdtMailTo", "To :", "old", true,
        QString::fromUtf8("炉の温度 <a@example.jp>"), true);
    row("from, typed half-width katakana", "EdtMailFrom", "From :", "a", false,
        QString::fromUtf8("ｿﾞｰﾝ"), true);
    row("user, pasted ①", "EdtMailId", "User ID :", "id", true, QString::fromUtf8("①"), true);
    row("to, pasted 32,767", "EdtMailTo", "To :", "old", true, full, true);
    row("memo, pasted Müller", "MemoUTemp", "", "hot", true, mueller, true);
}

void TstToolSettingDlg::storedEditsRefuseWhatTheFileCannotHold()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, before);
    QFETCH(bool, paste);
    QFETCH(QString, input);
    QFETCH(bool, accepted);

    QWidget* widget = m_dlg->findChild<QWidget*>(name);
    QVERIFY(widget);
    auto* edit = qobject_cast<QLineEdit*>(widget);
    const auto text = [&] { return widget->property("text").toString(); };
    widget->setProperty("text", before);
    m_dlg->PageCtrl1->setCurrentIndex(m_dlg->PageCtrl1->indexOf(widget->parentWidget()));
    widget->setFocus();
    if (paste) {
        QGuiApplication::clipboard()->setText(input);
        QTest::keyClick(widget, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(widget, Qt::Key_V, Qt::ControlModifier);
    } else {
        if (edit)
            edit->end(false);
        // One key event per character, as a keyboard or input method sends them.
        for (qsizetype i = 0; i < input.size(); ++i) {
            const qsizetype size = input.at(i).isHighSurrogate() ? 2 : 1;
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, input.mid(i, size),
                                Qt::NoModifier);
            i += size - 1;
        }
    }

    const QString expected = !accepted ? before : paste ? input : before + input;
    QVERIFY2(text() == expected, qPrintable(text().left(80)));
    const auto* refused = m_dlg->findChild<QLabel*>("LabelRefused");
    if (accepted) {
        QVERIFY(!refused || !refused->isVisible() || refused->text().isEmpty());
        return;
    }
    QVERIFY(refused);
    QVERIFY(m_dlg->Panel2->isAncestorOf(refused));
    QVERIFY(refused->isVisible());
    QVERIFY2(refused->text().contains(caption), qPrintable(refused->text()));
    QVERIFY2(refused->text().size() > caption.size() && !refused->text().contains('\n'),
             qPrintable(refused->text()));
}

void TstToolSettingDlg::webPasswordIsKeptAsAHashAtOk_data()
{
    QTest::addColumn<bool>("storedBefore"); // a hash of "old" in the settings first
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("how");     // "ok", "enter", "cancel"
    QTest::addColumn<QString>("inForce"); // the password the stored hash is made from; empty: none
    QTest::newRow("new, OK") << false << "n3w pass"
                             << "ok"
                             << "n3w pass";
    QTest::newRow("new, Enter") << false << "n3w pass"
                                << "enter"
                                << "n3w pass";
    QTest::newRow("replaced, OK") << true << "n3w pass"
                                  << "ok"
                                  << "n3w pass";
    QTest::newRow("empty keeps the stored one") << true << ""
                                                << "ok"
                                                << "old";
    QTest::newRow("Cancel keeps the stored one") << true << "n3w pass"
                                                 << "cancel"
                                                 << "old";
    QTest::newRow("Cancel, none stored") << false << "n3w pass"
                                         << "cancel"
                                         << "";
    QTest::newRow("symbols and spaces") << false << " p@ss: w0rd! "
                                        << "ok"
                                        << " p@ss: w0rd! ";
}

void TstToolSettingDlg::webPasswordIsKeptAsAHashAtOk()
{
    QFETCH(bool, storedBefore);
    QFETCH(QString, typed);
    QFETCH(QString, how);
    QFETCH(QString, inForce);
    const QString old = storedBefore ? PasswordHash::hash(QStringLiteral("old")) : QString();
    m_settings->setValue(K::WebPasswordHash, old);
    QLineEdit* edit = m_dlg->EdtWebPass;
    // The hash itself is never shown; the box only says one is kept.
    QCOMPARE(edit->text(), QString());
    QCOMPARE(edit->placeholderText(), storedBefore ? QStringLiteral("(設定済み)") : QString());
    m_dlg->PageCtrl1->setCurrentWidget(m_dlg->TabWeb);
    m_dlg->activateWindow();
    edit->setFocus();
    QTest::keyClicks(edit, typed);
    // Nothing is hashed while typing.
    QCOMPARE(m_settings->text(K::WebPasswordHash), old);

    if (how == "ok")
        QTest::mouseClick(m_dlg->OKBtn, Qt::LeftButton);
    else if (how == "enter")
        QTest::keyClick(edit, Qt::Key_Return);
    else
        QTest::mouseClick(m_dlg->CancelBtn, Qt::LeftButton);
    QVERIFY(!m_dlg->isVisible());

    const QString stored = m_settings->text(K::WebPasswordHash);
    if (inForce.isEmpty()) {
        QCOMPARE(stored, QString());
    } else {
        QVERIFY2(stored.startsWith(QStringLiteral("$y$")), qPrintable(stored));
        QVERIFY(PasswordHash::verify(inForce, stored));
        QVERIFY(!stored.contains(typed.isEmpty() ? QStringLiteral("old") : typed));
    }
    QCOMPARE(stored == old, inForce == "old" || inForce.isEmpty());
    // Shown again, the box is empty and says whether a hash is kept.
    m_dlg->show();
    QCOMPARE(edit->text(), QString());
    QCOMPARE(edit->placeholderText(), stored.isEmpty() ? QString() : QStringLiteral("(設定済み)"));
}

QTEST_MAIN(TstToolSettingDlg)
#include "tst_toolsettingdlg.moc"
