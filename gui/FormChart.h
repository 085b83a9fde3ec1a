#pragma once

#include "history/ReadingHistory.h"
#include "history/TrendSampler.h"

#include <QWidget>
#include <deque>
#include <optional>

class QCategoryAxis;
class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QTimer;
class QValueAxis;

class Clock;

// The trend window: temperature over time, the limits in force, RB1 and RB0 as steps on a
// small axis of their own, a marker at each pass that fired a rule, a break in the line where
// the board was silent. Built from the history when shown; then each reply is appended and what
// leaves the view is trimmed, so a reply costs the same whatever the history holds.
class FormChart : public QWidget {
    Q_OBJECT
public:
    enum Span { TenMinutes, OneHour, OneDay };

    // "Now" is `clock`'s.
    FormChart(const ReadingHistory& history, const Clock& clock, QWidget* parent = nullptr);

    void addPoint(const HistoryPoint& point);
    void addMark(const HistoryMark& mark);
    // A limit that is off or not a whole number is not drawn.
    void setLimits(std::optional<double> upper, std::optional<double> lower);

    QComboBox* CmbChartSpan;
    QChartView* ChartView;
    QChart* Chart;
    QDateTimeAxis* AxisTime;
    QValueAxis* AxisTemp;
    QCategoryAxis* AxisBits;
    QLineSeries* UpperLimitLine;
    QLineSeries* LowerLimitLine;
    QScatterSeries* RuleMarkers;

    // The pieces of the lines, oldest first; each has a temperature and two input series. A
    // silence starts a new piece; so does a full one, joined on to the one before.
    struct Segment {
        QLineSeries* temp;
        QLineSeries* rb1;
        QLineSeries* rb0;
        bool joined; // its first points repeat the last ones of the piece before
    };
    const std::deque<Segment>& segments() const { return m_segments; }
    // RuleMarkers' tooltips, point by point: the message the window showed.
    const std::deque<QString>& markTexts() const { return m_markTexts; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    qint64 spanMs() const;
    // The time axis' left end.
    qint64 viewStartMs() const;
    void rebuild();
    void clearSeries();
    // Takes a piece's three series off the chart and deletes them.
    void dropSeries(const Segment& segment);
    Segment& newSegment(bool joined = false);
    void addSamples(const QList<TrendSample>& samples);
    // Moves the view on when `nowMs` is within `marginMs` of its right end (or out of view).
    void moveTo(qint64 nowMs, qint64 marginMs = 0);
    void trim(qint64 oldestMs);
    void fitTemperature(double celsius);
    void updateLimitLines();
    void showMarkTip(const QPointF& point, bool entered);

    const ReadingHistory& m_history;
    const Clock& m_now;
    TrendSampler m_sampler;
    std::deque<Segment> m_segments;
    std::deque<QString> m_markTexts; // RuleMarkers' tooltips, point by point
    std::optional<double> m_upper;
    std::optional<double> m_lower;
    double m_tempLow = 0.0;
    double m_tempHigh = 0.0;
    bool m_tempRange = false;
    qint64 m_rightMs = 0; // the time axis' right end
    QTimer* m_tick;
};
