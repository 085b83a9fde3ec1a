// Secure mail through the real windows: a password typed into the dialog, kept in a real
// keyring (a Secret Service of the test's own), and a real SMTP server that requires STARTTLS
// and a login.

#include "gui/FormZARVIK_Mail.h"
#include "gui/Shell.h"
#include "gui/ToolSettingDlg.h"
#include "support/BoxWatcher.h"
#include "support/EventWait.h"
#include "support/MailText.h"
#include "support/SmtpServer.h"
#include "support/TestCertificate.h"
#include "support/TestFiles.h"
#include "support/TestMain.h"
#include "support/WindowFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QtTest>

namespace {

const QString User = QStringLiteral("zarvik-unit");
const QString Password = QStringLiteral("s3cret pass:9");
constexpr int PollMs = 100;

} // namespace

class TestMailSecurity : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void typedPasswordLogsInOverStartTlsAndStaysInTheKeyring();
    void testMailBesideAnAlert();
    void passwordWithoutAuthOfferedIsToldOnce_data();
    void passwordWithoutAuthOfferedIsToldOnce();

private:
    QString settings(const QString& extra = {}) const;

    std::unique_ptr<SmtpServer> m_smtp;
};

void TestMailSecurity::init()
{
    QVERIFY(setUpWindows());
    const TestCertificate& certificate = TestCertificate::shared();
    QVERIFY2(certificate.isValid(), qPrintable(certificate.errorString()));
    SmtpServer::Options options;
    options.tls = SmtpServer::Tls::StartTlsRequired;
    options.certificate = &certificate;
    options.authUser = User;
    options.authPassword = Password;
    m_smtp = std::make_unique<SmtpServer>(options);
    QVERIFY2(m_smtp->isListening(), qPrintable(m_smtp->errorString()));
}

void TestMailSecurity::cleanup()
{
    m_shell.reset();
    m_smtp.reset();
    QVERIFY2(tearDownWindows(), "a window was left open");
}

QString TestMailSecurity::settings(const QString& extra) const
{
    return settingsFile(
        QStringLiteral("[Mail]\nAddress=%1\nUser=%2\nFrom=ZARVIK <zarvik@example.jp>\n"
                       "To=ops@example.jp\nCAFile=%3\n%4")
            .arg(m_smtp->hostPort(), User, TestCertificate::shared().certPath(), extra));
}

void TestMailSecurity::typedPasswordLogsInOverStartTlsAndStaysInTheKeyring()
{
    QVERIFY(m_sim->setTemperature(20));
    const QString path = settings(QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"));
    openShell(path, PollMs);
    QVERIFY(m_dialog->LabelKeyring->text().isEmpty());
    m_dialog->EdtMailPass->setFocus();
    QTest::keyClicks(m_dialog->EdtMailPass, Password);
    QCOMPARE(m_dialog->EdtMailPass->text(), Password);
    BoxWatcher boxes(0);
    QVERIFY(m_sim->setTemperature(31.5));

    QVERIFY2(EventWait::until([&] { return m_smtp->mailCount() >= 1; }),
             qPrintable(boxes.texts().join(u'|')));
    const SmtpServer::Mail mail = m_smtp->mails().first();
    QVERIFY(mail.tls);
    QCOMPARE(mail.authUser, User);
    QCOMPARE(ParsedMail(mail.raw).text("Subject"), QStringLiteral("Over 30C "));

    m_form->close();
    m_shell.reset();
    QVERIFY(!TestFiles::read(path).contains(Password.toUtf8()));
    QVERIFY(!TestFiles::read(path).contains("s3cret"));

    // The next run finds the password in the keyring, and its first alert, due at the first
    // reply (the temperature is over the limit at start), waits for it.
    openShell(path, PollMs);
    QVERIFY2(EventWait::until([&] { return m_smtp->mailCount() >= 2; }),
             qPrintable(boxes.texts().join(u'|')));
    QCOMPARE(m_smtp->mails().at(1).authUser, User);
    QCOMPARE(m_dialog->EdtMailPass->text(), Password);
    QVERIFY(m_dialog->LabelKeyring->text().isEmpty());
    QVERIFY2(boxes.texts().isEmpty(), qPrintable(boxes.texts().join(u'|')));
}

void TestMailSecurity::testMailBesideAnAlert()
{
    QVERIFY(m_sim->setTemperature(31.5));
    openShell(settings(QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n")), PollMs);
    m_dialog->EdtMailPass->setText(Password);
    BoxWatcher boxes(0);
    // The alert fires at the first pass, which runs while the test mail is on its way.
    QTimer::singleShot(0, m_dialog->BtnTestMail, &QPushButton::click);
    QVERIFY(EventWait::until([&] { return !boxes.boxes().isEmpty(); }));
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("テストメールを送信しました。")});
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 2; }));

    QStringList subjects;
    for (const SmtpServer::Mail& mail : m_smtp->mails()) {
        QCOMPARE(mail.rcptTo, QStringList{QStringLiteral("ops@example.jp")});
        QCOMPARE(mail.authUser, User);
        const ParsedMail parsed(mail.raw);
        QCOMPARE(parsed.text("X-Priority"), QStringLiteral("5"));
        QCOMPARE(parsed.count("Content-Type"), 1);
        subjects << parsed.text("Subject");
    }
    subjects.sort();
    QCOMPARE(subjects,
             (QStringList{QStringLiteral("Over 30C "), QStringLiteral("ZARVIK Mail test")}));
    QVERIFY(!m_monitor->alertState().SendFlagUTemp);
}

void TestMailSecurity::passwordWithoutAuthOfferedIsToldOnce_data()
{
    QTest::addColumn<bool>("reachable");
    QTest::newRow("answers without AUTH") << true;
    // Nothing answered, nothing went: there is no login to have done without.
    QTest::newRow("not reached") << false;
}

void TestMailSecurity::passwordWithoutAuthOfferedIsToldOnce()
{
    QFETCH(bool, reachable);
    SmtpServer::Options options;
    options.tls = SmtpServer::Tls::StartTls;
    options.certificate = &TestCertificate::shared();
    SmtpServer noAuth(options); // offers STARTTLS, no AUTH
    QVERIFY2(noAuth.isListening(), qPrintable(noAuth.errorString()));
    QVERIFY(m_sim->setTemperature(31.5));
    const QString server = reachable ? noAuth.hostPort() : SmtpServer::refusingHostPort();
    openShell(settingsFile(QStringLiteral("[Mail]\nAddress=%1\nUser=%2\nFrom=zarvik@example.jp\n"
                                          "To=ops@example.jp\nCAFile=%3\n[Temp]\nUTemp=30\n")
                               .arg(server, User, TestCertificate::shared().certPath())),
              PollMs);
    m_dialog->EdtMailPass->setFocus();
    QTest::keyClicks(m_dialog->EdtMailPass, Password);
    QSignalSpy notes(m_form->StatusBar1, &QStatusBar::messageChanged);
    BoxWatcher boxes(0);
    boxes.setAnswer(BoxWatcher::Answer::Enter);
    // Two alerts: the rule is ticked, fires, is re-armed by Reset and fires again.
    QTest::mouseClick(m_dialog->ChkBoxUTemp, Qt::LeftButton, {}, QPoint(5, 8));
    const auto tried = [&](int n) {
        return reachable ? noAuth.mailCount() >= n : boxes.boxes().size() >= n;
    };
    QVERIFY(EventWait::until([&] { return tried(1) && !boxes.openNow(); }));
    QTest::mouseClick(m_form->BtnReset, Qt::LeftButton);
    QVERIFY(EventWait::until([&] { return tried(2) && !boxes.openNow(); }));
    if (reachable) {
        QVERIFY(noAuth.mails().first().tls);
        QVERIFY(noAuth.mails().first().authUser.isEmpty());
    }
    qsizetype told = 0;
    for (const QList<QVariant>& shown : notes)
        told += shown.first().toString().contains(QStringLiteral("AUTH"));
    QCOMPARE(told, reachable ? 1 : 0);
    QCOMPARE(boxes.boxes().size(), reachable ? 0 : 2);
    QCOMPARE(boxes.forcedClosures(), 0);
}

ZARVIK_APP_TEST_MAIN(TestMailSecurity)

#include "tst_mailsecurity.moc"
