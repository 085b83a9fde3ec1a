#pragma once

#include "metrics/MetricsExposition.h"
#include "metrics/MetricsSite.h"
#include "monitor/Outlet.h"

#include <QObject>
#include <QString>

class HttpSites;
class Monitor;

// The metrics served for a scraper: the readings and what the monitor says of replies and
// deliveries, and the rules fired and recovered, served where the settings say, live.
class MetricsOutlet : public QObject, public Outlet {
public:
    MetricsOutlet(Monitor& monitor, HttpSites& sites, QObject* parent = nullptr);
    ~MetricsOutlet() override;

    void take(const AlertEvent& event) override;
    bool notifies() const override { return false; }

private:
    // Hands the server thread what scrapes show, after each change.
    void publish();
    void followAddress();

    Monitor& m_monitor;
    MetricsExposition m_metrics;
    HttpSites& m_sites;
    MetricsSite m_site;
    QString m_addressText; // the address last followed
    qint64 m_lastReplyMs;  // on the monitor's steady clock
};
