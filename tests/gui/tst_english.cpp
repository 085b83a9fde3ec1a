// The windows in English: no Japanese left in what the window itself says, and every caption
// fits the fixed room the Japanese one had.
#include "gui/FormChart.h"
#include "gui/ToolSettingDlg.h"
#include "gui/ZarvikApplication.h"
#include "history/ReadingLog.h"
#include "i18n/UiLanguage.h"
#include "support/EventWait.h"
#include "support/WindowFixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QtTest>

namespace {

bool hasJapanese(const QString& text)
{
    static const QRegularExpression japanese(
        QStringLiteral("[\\x{3000}-\\x{30FF}\\x{4E00}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
    return text.contains(japanese);
}

QString withoutMnemonic(QString text)
{
    return text.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
        .remove(u'&')
        .replace(u'\x01', u'&');
}

// Widgets whose text is the board's or the settings', not the window's.
bool showsData(const QWidget* widget)
{
    return qobject_cast<const QPlainTextEdit*>(widget);
}

} // namespace

class TestEnglish : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void mainWindowAndChart();
    void settingsDialogEveryTab();
    void lastingNote();

private:
    // Japanese texts and captions too wide for their widget, under `root`, as "name: text".
    static QStringList problems(QWidget* root);
    static void menuProblems(const QMenu* menu, QStringList* found);
};

void TestEnglish::init()
{
    QVERIFY(setUpWindows());
    openShell(settingsFile());
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
}

void TestEnglish::cleanup()
{
    QVERIFY2(tearDownWindows(), "a window was left open");
}

QStringList TestEnglish::problems(QWidget* root)
{
    QStringList found;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : std::as_const(widgets)) {
        if (!widget->isVisibleTo(root) || showsData(widget))
            continue;
        const QString name = widget->objectName();
        QStringList texts{widget->windowTitle(), widget->toolTip(), widget->whatsThis()};
        if (const auto* label = qobject_cast<QLabel*>(widget))
            texts << label->text();
        if (const auto* button = qobject_cast<QAbstractButton*>(widget))
            texts << button->text();
        if (const auto* edit = qobject_cast<QLineEdit*>(widget))
            texts << edit->placeholderText();
        if (const auto* group = qobject_cast<QGroupBox*>(widget))
            texts << group->title();
        if (const auto* box = qobject_cast<QComboBox*>(widget)) {
            for (int i = 0; i < box->count(); ++i) {
                // A language offered by its own name ("日本語") is not the window's text.
                const QString language = box->itemData(i).toString();
                if (language.isEmpty() ||
                    box->itemText(i) != QLocale(language).nativeLanguageName())
                    texts << box->itemText(i);
            }
        }
        if (const auto* tabs = qobject_cast<QTabWidget*>(widget)) {
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
        }
        for (const QString& text : std::as_const(texts)) {
            if (hasJapanese(text))
                found << name + QStringLiteral(": ") + text;
        }

        // Fits its width: wrapped labels their height too.
        const QFontMetrics metrics(widget->font());
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (label->text().isEmpty() || label->textFormat() == Qt::RichText ||
                Qt::mightBeRichText(label->text()))
                continue;
            const bool fits = label->wordWrap()
                                  ? label->heightForWidth(label->width()) <= label->height()
                                  : metrics.horizontalAdvance(label->text()) <= label->width();
            if (!fits)
                found << name + QStringLiteral(" too small for: ") + label->text();
        } else if (auto* box = qobject_cast<QAbstractButton*>(widget)) {
            if (box->text().isEmpty())
                continue;
            // Check boxes and radio buttons draw their indicator and a gap before the text.
            int beside = 6; // a push button's frame
            if (qobject_cast<QCheckBox*>(box))
                beside = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                         box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
            else if (qobject_cast<QRadioButton*>(box))
                beside =
                    box->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, box) +
                    box->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, box);
            const int needed = metrics.horizontalAdvance(withoutMnemonic(box->text())) + beside;
            if (needed > box->width())
                found << name + QStringLiteral(" too small for: ") + box->text() +
                             QStringLiteral(" (%1 > %2)").arg(needed).arg(box->width());
        }
    }
    return found;
}

void TestEnglish::menuProblems(const QMenu* menu, QStringList* found)
{
    for (const QAction* action : menu->actions()) {
        for (const QString& text : {action->text(), action->toolTip(), action->whatsThis()}) {
            if (hasJapanese(text))
                *found << menu->objectName() + QStringLiteral(": ") + text;
        }
        if (action->menu())
            menuProblems(action->menu(), found);
    }
}

void TestEnglish::mainWindowAndChart()
{
    QStringList found = problems(m_form);
    for (const QAction* action : m_form->menuBar()->actions()) {
        if (hasJapanese(action->text()))
            found << QStringLiteral("menu bar: ") + action->text();
        if (action->menu())
            menuProblems(action->menu(), &found);
    }
    const auto graph = m_form->findChild<QAction*>(QStringLiteral("ViewChart"));
    QVERIFY(graph);
    graph->trigger();
    FormChart* chart = m_shell->Chart();
    QVERIFY(chart);
    QVERIFY(QTest::qWaitForWindowExposed(chart));
    found << problems(chart);
    chart->close();
    QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
}

void TestEnglish::settingsDialogEveryTab()
{
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    const auto tabs = m_dialog->findChild<QTabWidget*>(QStringLiteral("PageCtrl1"));
    QVERIFY(tabs);
    QStringList found;
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        found << problems(m_dialog);
    }
    found.removeDuplicates();
    m_dialog->reject();
    QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
}

void TestEnglish::lastingNote()
{
    // A folder in the way of today's reading log: the monitor says so beside the readings.
    const QString ini = settingsFile(QStringLiteral("[Watch]\nLog=1\n"));
    QVERIFY(QDir().mkpath(ReadingLog::filePathFor(ini, QDate::currentDate())));
    m_shell.reset();
    openShell(ini);
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    QVERIFY(EventWait::until([&] { return m_form->LabelNotes->isVisible(); }));
    const QStringList found = problems(m_form);
    QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
}

int main(int argc, char* argv[])
{
    ZarvikApplication app(argc, argv);
    // Before any window is made, as the program does at start.
    if (!UiLanguage::install(app, QStringLiteral("en")))
        qWarning("the English translation is not complete");
    TestEnglish test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_english.moc"
