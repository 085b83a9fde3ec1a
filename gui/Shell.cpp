#include "gui/Shell.h"

#include "core/Clock.h"
#include "core/IntegerText.h"
#include "gui/FormChart.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/OwnMessageBox.h"
#include "gui/ToolSettingDlg.h"
#include "history/HistoryRecorder.h"
#include "mail/SmtpClient.h"
#include "monitor/MailPassword.h"
#include "monitor/Monitor.h"
#include "monitor/MqttPassword.h"
#include "settings/Settings.h"

#include <QAction>
#include <QTimer>
#include <cstdio>

namespace {

// Closing must not wait long: the dialog kept the password when it closed.
constexpr int ClosingKeyringWaitMs = 1500;

// The limit a rule acts on, when its box is ticked and its text is a whole number.
std::optional<double> chartLimit(const Settings& settings, Settings::Key checked,
                                 Settings::Key limit)
{
    if (!settings.flag(checked))
        return std::nullopt;
    const std::optional<int> value = IntegerText::parse(settings.text(limit).trimmed());
    return value ? std::optional<double>(*value) : std::nullopt;
}

} // namespace

Shell::Shell(const QString& settingsPath)
    : Shell(SettingsLocation::forFile(settingsPath))
{
}

Shell::Shell(const SettingsLocation& where)
    : m_where(where)
    , m_settings(std::make_unique<Settings>())
{
    FormCreate();
}

Shell::~Shell() = default;

void Shell::FormCreate()
{
    m_settings->load(m_where.readPath(), &m_readProblem);
    m_monitor = std::make_unique<Monitor>(*m_settings, m_where.statePath, Clock::system());
    // The first request, the rules armed and the passes installed, before any widget is built.
    m_monitor->start();
    m_mqttPassword = std::make_unique<MqttPassword>(*m_settings);
    m_mqttPassword->ask();
    m_form = std::make_unique<TFormZARVIK_Mail>(*m_monitor);
    m_dialog =
        new TToolSettingDlg(*m_settings, m_monitor->password(), *m_mqttPassword, m_form.get());
    m_form->attachSettingsDialog(m_dialog);
    QObject::connect(m_form->ViewChart, &QAction::triggered, this, &Shell::openChart);
    QObject::connect(m_form.get(), &TFormZARVIK_Mail::closing, this, &Shell::saveAtClose);
}

void Shell::openChart()
{
    if (!m_chart) {
        HistoryRecorder& history = m_monitor->history();
        m_chart = new FormChart(history.history(), m_monitor->clock(), m_form.get());
        connect(&history, &HistoryRecorder::pointAdded, m_chart, &FormChart::addPoint);
        connect(&history, &HistoryRecorder::markAdded, m_chart, &FormChart::addMark);
        auto limits = [chart = m_chart, &settings = *m_settings] {
            chart->setLimits(chartLimit(settings, Settings::CheckUpper, Settings::UpperLimit),
                             chartLimit(settings, Settings::CheckLower, Settings::LowerLimit));
        };
        connect(m_settings.get(), &Settings::changed, m_chart, limits);
        limits();
    }
    m_chart->show();
    m_chart->raise();
    m_chart->activateWindow();
}

void Shell::saveAtClose()
{
    m_monitor->close();
    m_dialog->settleTexts();
    m_settings->setValue(Settings::Left, m_form->pos().x());
    m_settings->setValue(Settings::Top, m_form->pos().y());
    QString error;
    m_settings->save(m_where.settingsPath, &error);
    // Without a keyring the passwords were for this run only, as the dialog said. Finished once
    // both are told.
    auto all = std::make_shared<QString>(error);
    auto waiting = std::make_shared<int>(2);
    for (KeptPassword* password : {static_cast<KeptPassword*>(&m_monitor->password()),
                                   static_cast<KeptPassword*>(m_mqttPassword.get())}) {
        connect(
            password, &KeptPassword::stored, this,
            [this, all, waiting, password](bool kept, const QString& why) {
                if (!kept && password->keyringAvailable() && !all->contains(why))
                    *all += (all->isEmpty() ? QString() : QStringLiteral("\n")) + why;
                if (--*waiting == 0)
                    finish(*all);
            },
            Qt::SingleShotConnection);
    }
    m_monitor->password().keep(ClosingKeyringWaitMs);
    m_mqttPassword->keep(ClosingKeyringWaitMs);
}

void Shell::finish(const QString& error)
{
    if (!error.isEmpty()) {
        if (m_form->closingBySignal()) {
            // Nobody may be there to answer a box.
            std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
            m_exitStatus = 1;
        } else {
            OwnMessageBox::show(QMessageBox::Warning, m_form->windowTitle(), error);
        }
    }
    m_finished = true;
    emit finished(m_exitStatus);
}

void Shell::show()
{
    m_form->show();
    // Once the window is up, so neither start-up nor the first alert waits for it.
    QTimer::singleShot(0, m_form.get(), [form = m_form.get()] {
        SmtpClient::prepare();
        form->prepareMessageText();
    });
    if (m_readProblem.isEmpty())
        return;
    // Told once the window is up; the file is kept as a backup before it is next replaced.
    QTimer::singleShot(0, m_form.get(), [form = m_form.get(), problem = m_readProblem] {
        OwnMessageBox::show(QMessageBox::Warning, form->windowTitle(),
                            tr("%1\nThe file will be kept as a backup beside it "
                               "before it is next saved.")
                                .arg(problem));
    });
}
