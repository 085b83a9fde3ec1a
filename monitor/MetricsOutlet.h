#pragma once

#include "metrics/MetricsExposition.h"
#include "monitor/Outlet.h"

#include <QObject>
#include <QString>

class MetricsServer;
class Monitor;

// The metrics served for a scraper: the readings and what the monitor says of replies and
// deliveries, and the rules fired and recovered. The server follows the settings live.
class MetricsOutlet : public QObject, public Outlet {
public:
    explicit MetricsOutlet(Monitor& monitor, QObject* parent = nullptr);
    ~MetricsOutlet() override;

    void take(const AlertEvent& event) override;
    bool notifies() const override { return false; }
    const MetricsServer& server() const { return *m_server; }

private:
    // Hands the server thread what scrapes show, after each change.
    void publish();
    void followAddress();

    Monitor& m_monitor;
    MetricsExposition m_metrics;
    MetricsServer* m_server;
    QString m_addressText; // the address last followed
    qint64 m_lastReplyMs;  // on the monitor's steady clock
};
