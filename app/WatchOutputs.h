#pragma once

#include "watch/MetricsExposition.h"

#include <QObject>
#include <QString>

class MetricsServer;
class TFormZARVIK_Mail;
class TToolSettingDlg;

// What the window tells goes out beyond it as well: into the metrics served for a scraper and,
// when asked for, a desktop notification for each pass that fired a rule. Both follow the
// settings dialog live.
class WatchOutputs : public QObject {
public:
    WatchOutputs(TFormZARVIK_Mail& form, TToolSettingDlg& dialog);
    ~WatchOutputs() override;

    const MetricsServer& metricsServer() const { return *m_server; }

private:
    // Hands the server thread what scrapes show, after each change.
    void publishMetrics();
    void followMetricsAddress();

    TFormZARVIK_Mail& m_form;
    TToolSettingDlg& m_dialog;
    MetricsExposition m_metrics;
    MetricsServer* m_server;
    QString m_metricsText; // the address last followed
};
