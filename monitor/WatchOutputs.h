#pragma once

#include "metrics/MetricsExposition.h"

#include <QObject>
#include <QString>

class MetricsServer;
class Monitor;

// What the watching tells goes out beyond the program as well: into the metrics served for a
// scraper and, when asked for, a desktop notification for each pass that fired a rule. Both
// follow the settings live.
class WatchOutputs : public QObject {
public:
    explicit WatchOutputs(Monitor& monitor, QObject* parent = nullptr);
    ~WatchOutputs() override;

    const MetricsServer& metricsServer() const { return *m_server; }

private:
    // Hands the server thread what scrapes show, after each change.
    void publishMetrics();
    void followMetricsAddress();

    Monitor& m_monitor;
    MetricsExposition m_metrics;
    MetricsServer* m_server;
    QString m_metricsText; // the address last followed
    qint64 m_lastReplyMs;  // on the monitor's steady clock
};
