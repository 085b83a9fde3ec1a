#pragma once

#include "monitor/Outlet.h"
#include "web/EventLog.h"
#include "web/WebSite.h"

#include <QList>
#include <QObject>
#include <QString>

class HttpSites;
class Monitor;
struct WebStatus;

// The status page and its API ([Web] Listen): what the monitor says, kept for the page (the
// last events, the last hour's and day's readings, since when each rule has fired), and what a
// person asks there done on the monitor. Off, and holding nothing, while no address is set.
class WebOutlet : public QObject, public Outlet {
    Q_OBJECT
public:
    WebOutlet(Monitor& monitor, HttpSites& sites, QObject* parent = nullptr);
    ~WebOutlet() override;

    void take(const AlertEvent& event) override;
    // A record, like the metrics: it hears of alerts during maintenance too.
    bool notifies() const override { return false; }

signals:
    // An action done from the page or the API, with the address it came from.
    void note(const QString& text);

private:
    void follow();
    void add(EventKind kind, const QString& text);
    void keepReading(const Reading& reading);
    void publish();
    WebStatus status() const;
    WebSite::Actions actions();

    Monitor& m_monitor;
    HttpSites& m_sites;
    WebSite m_site;
    bool m_on = false;
    QString m_followed; // the address last followed
    bool m_refused = false;
    EventLog m_events;
    QList<TrendSvg::Point> m_hour;
    QList<TrendSvg::Point> m_day; // a bucket's lowest and highest
    Reading m_last;               // timeMs 0 before the first
    qint64 m_lastReplySteadyMs = 0;
    QString m_linkProblem;
    qint64 m_firedSinceMs[7] = {}; // by rule bit, wall clock
};
