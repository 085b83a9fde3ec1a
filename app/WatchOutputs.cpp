#include "app/WatchOutputs.h"

#include "app/FormZARVIK_Mail.h"
#include "settings/SettledText.h"
#include "settings/ToolSettingDlg.h"
#include "watch/DesktopNotifier.h"
#include "watch/MetricsServer.h"

#include <QCheckBox>

WatchOutputs::WatchOutputs(TFormZARVIK_Mail& form, TToolSettingDlg& dialog)
    : m_form(form)
    , m_dialog(dialog)
    , m_server(new MetricsServer(this))
{
    connect(&form, &TFormZARVIK_Mail::replyDecoded, this, [this] {
        const DeviceReadings& readings = m_form.readings();
        m_metrics.noteReply(double(readings.NowTempValue), readings.PortBits);
        publishMetrics();
    });
    connect(&form, &TFormZARVIK_Mail::wrongSizeReceived, this, [this] {
        m_metrics.noteWrongSize();
        publishMetrics();
    });
    connect(&form, &TFormZARVIK_Mail::mailFailed, this, [this] {
        m_metrics.noteMailFailure();
        publishMetrics();
    });
    connect(&form, &TFormZARVIK_Mail::rulesFired, this,
            [this](quint8 rules, const QString& message, const QString& subject) {
                m_metrics.noteRulesFired(rules);
                publishMetrics();
                if (m_dialog.ChkBoxNotify->isChecked())
                    DesktopNotifier::notify(message, subject);
            });

    m_server->onProblem = [this](const QString& why) {
        m_form.setLastingNote(QStringLiteral("metrics"), why);
    };
    publishMetrics();
    connect(dialog.SettledMetrics, &SettledText::settled, this,
            &WatchOutputs::followMetricsAddress);
    followMetricsAddress();
}

WatchOutputs::~WatchOutputs() = default;

void WatchOutputs::publishMetrics()
{
    // The reply age is the window's clock, as for its no-reply rule.
    m_server->publish(m_metrics, m_form.lastReplyClock());
}

void WatchOutputs::followMetricsAddress()
{
    // A new address ends what was said of the old one; the same one again keeps it.
    const QString text = m_dialog.SettledMetrics->text().trimmed();
    if (text != m_metricsText)
        m_form.setLastingNote(QStringLiteral("metrics"), {});
    m_metricsText = text;
    m_server->listenOn(text);
}
