#include "app/Shell.h"

#include "app/FormChart.h"
#include "app/FormZARVIK_Mail.h"
#include "app/OwnMessageBox.h"
#include "app/SignalCloser.h"
#include "app/WatchOutputs.h"
#include "core/IntegerText.h"
#include "device/BoardProtocol.h"
#include "history/HistoryRecorder.h"
#include "mail/SmtpClient.h"
#include "settings/SettingsStore.h"
#include "settings/ToolSettingDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QLineEdit>
#include <QTimer>

namespace {

// The limit a rule acts on, when its box is ticked and its text is a whole number.
std::optional<double> chartLimit(const QCheckBox* box, const QLineEdit* edit)
{
    if (!box->isChecked())
        return std::nullopt;
    const std::optional<int> value = IntegerText::parse(edit->text().trimmed());
    return value ? std::optional<double>(*value) : std::nullopt;
}

} // namespace

Shell::Shell(const QString& settingsPath)
    : m_form(std::make_unique<TFormZARVIK_Mail>(settingsPath))
{
    m_dialog = new TToolSettingDlg(m_form.get());
    SettingsStore::loadSettings(settingsPath, *m_dialog, &m_readProblem);
    // Only a server to log in to has a password worth asking the keyring for.
    if (!m_dialog->EdtMailSrv->text().trimmed().isEmpty() &&
        !m_dialog->EdtMailId->text().trimmed().isEmpty())
        m_dialog->loadPassword();
    m_form->attachSettingsDialog(m_dialog);
    m_watch = std::make_unique<WatchOutputs>(*m_form, *m_dialog);
    recordHistory();
    m_signalCloser =
        std::make_unique<SignalCloser>([form = m_form.get()] { form->closeBySignal(); });
}

Shell::~Shell() = default;

void Shell::recordHistory()
{
    m_history = std::make_unique<HistoryRecorder>(m_form->settingsPath());
    if (m_dialog->ChkBoxLog->isChecked())
        m_history->loadLog(QDateTime::currentMSecsSinceEpoch());
    m_history->logEnabled = [dialog = m_dialog] { return dialog->ChkBoxLog->isChecked(); };
    m_history->onLogProblem = [form = m_form.get()](const QString& why) {
        form->setLastingNote(QStringLiteral("csv"),
                             why.isEmpty() ? QString()
                                           : QStringLiteral("CSV に記録できません: %1").arg(why));
    };
    TFormZARVIK_Mail* form = m_form.get();
    HistoryRecorder* history = m_history.get();
    QObject::connect(form, &TFormZARVIK_Mail::replyDecoded, history, [form, history] {
        const DeviceReadings& readings = form->readings();
        history->recordReply(QDateTime::currentMSecsSinceEpoch(), double(readings.NowTempValue),
                             readings.PortBits & BoardProtocol::Rb1Mask,
                             readings.PortBits & BoardProtocol::Rb0Mask);
    });
    QObject::connect(form, &TFormZARVIK_Mail::rulesFired, history,
                     [history](quint8, const QString& message, const QString&) {
                         history->recordMark(QDateTime::currentMSecsSinceEpoch(), message);
                     });
    QObject::connect(form->ViewChart, &QAction::triggered, history, [this] { openChart(); });
}

void Shell::openChart()
{
    if (!m_chart) {
        m_chart = new FormChart(m_history->history(), m_form.get());
        QObject::connect(m_history.get(), &HistoryRecorder::pointAdded, m_chart,
                         &FormChart::addPoint);
        QObject::connect(m_history.get(), &HistoryRecorder::markAdded, m_chart,
                         &FormChart::addMark);
        auto limits = [chart = m_chart, dialog = m_dialog] {
            chart->setLimits(chartLimit(dialog->ChkBoxUTemp, dialog->EditUTemp),
                             chartLimit(dialog->ChkBoxLTemp, dialog->EditLTemp));
        };
        for (QCheckBox* box : {m_dialog->ChkBoxUTemp, m_dialog->ChkBoxLTemp})
            QObject::connect(box, &QCheckBox::toggled, m_chart, limits);
        for (QLineEdit* edit : {m_dialog->EditUTemp, m_dialog->EditLTemp})
            QObject::connect(edit, &QLineEdit::textChanged, m_chart, limits);
        limits();
    }
    m_chart->show();
    m_chart->raise();
    m_chart->activateWindow();
}

QString Shell::defaultSettingsPath()
{
    return SettingsStore::settingsPathFor(QCoreApplication::applicationFilePath());
}

void Shell::show()
{
    m_form->show();
    // Once the window is up, so neither start-up nor the first alert waits for it.
    QTimer::singleShot(0, m_form.get(), [] { SmtpClient::prepare(); });
    if (m_readProblem.isEmpty())
        return;
    // Told once the window is up; the file is kept as a backup before it is next replaced.
    QTimer::singleShot(0, m_form.get(), [form = m_form.get(), problem = m_readProblem] {
        OwnMessageBox::show(QMessageBox::Warning, form->windowTitle(),
                            QStringLiteral("%1\nThe file will be kept as a backup beside it "
                                           "before it is next saved.")
                                .arg(problem));
    });
}
