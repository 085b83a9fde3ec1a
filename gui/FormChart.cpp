#include "gui/FormChart.h"

#include "core/Clock.h"
#include "gui/UiFont.h"

#include <QBoxLayout>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHideEvent>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QShowEvent>
#include <QTimer>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 MinuteMs = 60 * 1000;
// The room left on the right of the newest point, as a share of the span: the view moves on
// once it is used up.
constexpr qint64 LeadDivisor = 20;
// Points in one piece of a line. Qt Charts lays out a whole series again for each point added
// to it, so a live point costs in proportion to its piece, not to the view.
constexpr int PiecePoints = 100;

struct SpanChoice {
    const char* text;
    qint64 ms;
    qint64 bucketMs; // 0: every reply; a day of them would be 43,200 points
    int ticks;
};
const SpanChoice Spans[] = {
    {QT_TRANSLATE_NOOP("FormChart", "10 分"), 10 * MinuteMs, 0, 6},
    {QT_TRANSLATE_NOOP("FormChart", "1 時間"), 60 * MinuteMs, 0, 7},
    {QT_TRANSLATE_NOOP("FormChart", "24 時間"), 24 * 60 * MinuteMs, MinuteMs, 9},
};

// The inputs are drawn in the bottom quarter of the plot, under the temperature line.
constexpr double BitsAxisLow = -0.5;
constexpr double BitsAxisHigh = 5.0;

const QColor TempColor(0x1f, 0x5f, 0xbf);
const QColor Rb1Color(0xe0, 0x7b, 0x00);
const QColor Rb0Color(0x2c, 0x9a, 0x2c);
const QColor UpperColor(0xd0, 0x20, 0x20);
const QColor LowerColor(0x20, 0x80, 0xd0);

template <typename S> S* makeSeries(const char* name, const QString& title, const QPen& pen)
{
    auto* series = new S;
    series->setObjectName(QString::fromLatin1(name));
    series->setName(title);
    series->setPen(pen);
    return series;
}

// Extends an input's step line to `ms`: a change draws a vertical step, an unchanged value only
// moves the end of a flat run, so a steady input stays two points however long it lasts.
void stepTo(QList<QPointF>& points, qint64 ms, bool bit)
{
    const double y = bit ? 1.0 : 0.0;
    const qsizetype n = points.size();
    if (n >= 2 && points[n - 1].y() == y && points[n - 2].y() == y) {
        points[n - 1].setX(double(ms));
        return;
    }
    if (n >= 1 && points[n - 1].y() != y)
        points.append(QPointF(double(ms), points[n - 1].y()));
    points.append(QPointF(double(ms), y));
}

void stepTo(QLineSeries* series, qint64 ms, bool bit)
{
    const double y = bit ? 1.0 : 0.0;
    const int n = series->count();
    if (n >= 2 && series->at(n - 1).y() == y && series->at(n - 2).y() == y) {
        series->replace(n - 1, double(ms), y);
        return;
    }
    if (n >= 1 && series->at(n - 1).y() != y)
        series->append(double(ms), series->at(n - 1).y());
    series->append(double(ms), y);
}

// How many points from the front lie wholly before `oldestMs`: the last of them stays, so the
// line still enters the view from its left edge.
int pointsBefore(const QLineSeries* series, qint64 oldestMs)
{
    int n = 0;
    while (n + 1 < series->count() && series->at(n + 1).x() < double(oldestMs))
        ++n;
    return n;
}

} // namespace

FormChart::FormChart(const ReadingHistory& history, const Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_history(history)
    , m_now(clock)
{
    setObjectName(QStringLiteral("FormChart"));
    setWindowTitle(tr("ZARVIK Mail - グラフ"));
    // The main window alone decides when the program ends.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(uiFont(12));
    resize(760, 440);

    CmbChartSpan = new QComboBox(this);
    CmbChartSpan->setObjectName(QStringLiteral("CmbChartSpan"));
    for (const SpanChoice& span : Spans)
        CmbChartSpan->addItem(tr(span.text));
    CmbChartSpan->setCurrentIndex(OneHour);
    auto* spanLabel = new QLabel(tr("表示範囲:"), this);
    spanLabel->setObjectName(QStringLiteral("LabelChartSpan"));

    Chart = new QChart;
    Chart->setObjectName(QStringLiteral("Chart"));
    // Qt Charts' own legend makes an entry for every series, i.e. for every piece of a line,
    // and that is most of the cost of starting a piece; one line of text says the same.
    Chart->legend()->hide();
    Chart->setMargins(QMargins(4, 4, 4, 4));

    AxisTime = new QDateTimeAxis;
    AxisTime->setObjectName(QStringLiteral("AxisTime"));
    AxisTime->setFormat(QStringLiteral("HH:mm"));
    AxisTemp = new QValueAxis;
    AxisTemp->setObjectName(QStringLiteral("AxisTemp"));
    AxisTemp->setTitleText(QStringLiteral("℃"));
    AxisTemp->setLabelFormat(QStringLiteral("%.1f"));
    AxisBits = new QCategoryAxis;
    AxisBits->setObjectName(QStringLiteral("AxisBits"));
    AxisBits->setTitleText(QStringLiteral("RB"));
    AxisBits->setStartValue(BitsAxisLow);
    AxisBits->append(QStringLiteral("0"), 0.0);
    AxisBits->append(QStringLiteral("1"), 1.0);
    AxisBits->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    AxisBits->setGridLineVisible(false);
    AxisBits->setRange(BitsAxisLow, BitsAxisHigh);
    Chart->addAxis(AxisTime, Qt::AlignBottom);
    Chart->addAxis(AxisTemp, Qt::AlignLeft);
    Chart->addAxis(AxisBits, Qt::AlignRight);

    UpperLimitLine =
        makeSeries<QLineSeries>("UpperLimitLine", tr("上限"), QPen(UpperColor, 1.5, Qt::DashLine));
    LowerLimitLine =
        makeSeries<QLineSeries>("LowerLimitLine", tr("下限"), QPen(LowerColor, 1.5, Qt::DashLine));
    RuleMarkers = makeSeries<QScatterSeries>("RuleMarkers", tr("警報"), QPen(Qt::white, 1));
    RuleMarkers->setBrush(UpperColor);
    RuleMarkers->setMarkerSize(11);
    for (QXYSeries* series :
         {static_cast<QXYSeries*>(UpperLimitLine), static_cast<QXYSeries*>(LowerLimitLine),
          static_cast<QXYSeries*>(RuleMarkers)}) {
        Chart->addSeries(series);
        series->attachAxis(AxisTime);
        series->attachAxis(AxisTemp);
    }
    UpperLimitLine->setVisible(false);
    LowerLimitLine->setVisible(false);
    connect(RuleMarkers, &QScatterSeries::hovered, this, &FormChart::showMarkTip);

    ChartView = new QChartView(Chart, this);
    ChartView->setObjectName(QStringLiteral("ChartView"));
    ChartView->setRenderHint(QPainter::Antialiasing);

    auto* legend = new QLabel(this);
    legend->setObjectName(QStringLiteral("LabelChartLegend"));
    auto swatch = [](const QColor& color, const char* mark, const QString& text) {
        return QStringLiteral("<span style='color:%1'>%2</span>&nbsp;%3")
            .arg(color.name(), QString::fromUtf8(mark), text);
    };
    const QString rb1 = QStringLiteral("RB1");
    const QString rb0 = QStringLiteral("RB0");
    legend->setText(QStringList{swatch(TempColor, "━", tr("温度")), swatch(Rb1Color, "━", rb1),
                                swatch(Rb0Color, "━", rb0), swatch(UpperColor, "┅", tr("上限")),
                                swatch(LowerColor, "┅", tr("下限")),
                                swatch(UpperColor, "●", tr("警報"))}
                        .join(QStringLiteral("&nbsp;&nbsp;&nbsp;")));

    auto* top = new QHBoxLayout;
    top->addWidget(spanLabel);
    top->addWidget(CmbChartSpan);
    top->addStretch(1);
    top->addWidget(legend);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(top);
    layout->addWidget(ChartView, 1);

    // Moves the view on before the room on the right runs out, so that a reply's handling
    // seldom pays for it, and while the board is silent, so that the silence shows.
    m_tick = new QTimer(this);
    m_tick->setInterval(2000);
    connect(m_tick, &QTimer::timeout, this,
            [this] { moveTo(m_now.nowMs(), spanMs() / LeadDivisor / 2); });
    connect(CmbChartSpan, &QComboBox::currentIndexChanged, this, [this] {
        if (isVisible())
            rebuild();
    });
}

qint64 FormChart::spanMs() const
{
    return Spans[std::clamp(CmbChartSpan->currentIndex(), 0, int(OneDay))].ms;
}

void FormChart::showEvent(QShowEvent* event)
{
    // A window restored from the task bar kept its lines up to date meanwhile.
    if (!event->spontaneous()) {
        rebuild();
        m_tick->start();
    }
    QWidget::showEvent(event);
}

void FormChart::hideEvent(QHideEvent* event)
{
    // Nothing is kept or updated while the window is closed; showing it builds anew. A
    // minimised window is still visible to Qt and goes on following the replies.
    if (!event->spontaneous()) {
        m_tick->stop();
        clearSeries();
    }
    QWidget::hideEvent(event);
}

void FormChart::dropSeries(const Segment& segment)
{
    for (QLineSeries* series : {segment.temp, segment.rb1, segment.rb0}) {
        Chart->removeSeries(series);
        delete series;
    }
}

void FormChart::clearSeries()
{
    for (const Segment& segment : m_segments)
        dropSeries(segment);
    m_segments.clear();
    RuleMarkers->clear();
    m_markTexts.clear();
    m_tempRange = false;
}

FormChart::Segment& FormChart::newSegment(bool joined)
{
    Segment segment{
        makeSeries<QLineSeries>("TempSeries", tr("温度"), QPen(TempColor, 2)),
        makeSeries<QLineSeries>("Rb1Series", QStringLiteral("RB1"), QPen(Rb1Color, 2)),
        makeSeries<QLineSeries>("Rb0Series", QStringLiteral("RB0"), QPen(Rb0Color, 2)),
        joined,
    };
    for (QLineSeries* series : {segment.temp, segment.rb1, segment.rb0}) {
        Chart->addSeries(series);
        series->attachAxis(AxisTime);
        series->attachAxis(series == segment.temp ? static_cast<QAbstractAxis*>(AxisTemp)
                                                  : static_cast<QAbstractAxis*>(AxisBits));
    }
    m_segments.push_back(segment);
    return m_segments.back();
}

qint64 FormChart::viewStartMs() const
{
    // A whole span behind the newest point, and the room on the right behind that.
    return m_rightMs - spanMs() - spanMs() / LeadDivisor;
}

void FormChart::rebuild()
{
    clearSeries();
    const int span = std::clamp(CmbChartSpan->currentIndex(), 0, int(OneDay));
    AxisTime->setTickCount(Spans[span].ticks);
    m_sampler = TrendSampler(Spans[span].bucketMs);
    const auto& points = m_history.points();
    const qint64 now = std::max(m_now.nowMs(), points.empty() ? qint64(0) : points.back().ms);
    const qint64 oldest = now - spanMs();
    auto first = std::partition_point(points.begin(), points.end(),
                                      [oldest](const HistoryPoint& p) { return p.ms < oldest; });
    QList<TrendSample> samples;
    for (auto it = first; it != points.end(); ++it)
        m_sampler.add(*it, samples);
    m_sampler.flush(samples);

    // Each segment's lists are prepared whole and handed over at once.
    struct Lists {
        QList<QPointF> temp, rb1, rb0;
        bool joined = false;
    };
    QList<Lists> lists;
    for (const TrendSample& sample : std::as_const(samples)) {
        if (sample.startsSegment || lists.isEmpty()) {
            lists.append(Lists{});
        } else if (lists.back().temp.size() >= PiecePoints) {
            const Lists& full = lists.back();
            lists.append(Lists{{full.temp.back()}, {full.rb1.back()}, {full.rb0.back()}, true});
        }
        Lists& to = lists.back();
        to.temp.append(QPointF(double(sample.ms), sample.celsius));
        stepTo(to.rb1, sample.ms, sample.rb1);
        stepTo(to.rb0, sample.ms, sample.rb0);
        fitTemperature(sample.celsius);
    }
    for (const Lists& from : std::as_const(lists)) {
        Segment& segment = newSegment(from.joined);
        segment.temp->replace(from.temp);
        segment.rb1->replace(from.rb1);
        segment.rb0->replace(from.rb0);
    }
    QList<QPointF> marks;
    for (const HistoryMark& mark : m_history.marks()) {
        if (mark.ms < oldest)
            continue;
        marks.append(QPointF(double(mark.ms), mark.celsius));
        m_markTexts.push_back(mark.message);
    }
    RuleMarkers->replace(marks);
    for (std::optional<double> limit : {m_upper, m_lower}) {
        if (limit)
            fitTemperature(*limit);
    }
    if (!m_tempRange)
        fitTemperature(25.0); // an empty chart still shows a sensible scale
    m_rightMs = 0;
    moveTo(now);
}

void FormChart::addPoint(const HistoryPoint& point)
{
    if (!isVisible())
        return;
    QList<TrendSample> samples;
    m_sampler.add(point, samples);
    addSamples(samples);
    moveTo(point.ms);
}

void FormChart::addSamples(const QList<TrendSample>& samples)
{
    for (const TrendSample& sample : samples) {
        if (sample.startsSegment || m_segments.empty()) {
            newSegment();
        } else if (m_segments.back().temp->count() >= PiecePoints) {
            const Segment& full = m_segments.back();
            const QPointF ends[] = {full.temp->at(full.temp->count() - 1),
                                    full.rb1->at(full.rb1->count() - 1),
                                    full.rb0->at(full.rb0->count() - 1)};
            Segment& next = newSegment(true);
            next.temp->append(ends[0]);
            next.rb1->append(ends[1]);
            next.rb0->append(ends[2]);
        }
        Segment& segment = m_segments.back();
        segment.temp->append(double(sample.ms), sample.celsius);
        stepTo(segment.rb1, sample.ms, sample.rb1);
        stepTo(segment.rb0, sample.ms, sample.rb0);
        fitTemperature(sample.celsius);
    }
}

void FormChart::addMark(const HistoryMark& mark)
{
    if (!isVisible())
        return;
    RuleMarkers->append(double(mark.ms), mark.celsius);
    m_markTexts.push_back(mark.message);
}

void FormChart::setLimits(std::optional<double> upper, std::optional<double> lower)
{
    if (upper == m_upper && lower == m_lower)
        return;
    m_upper = upper;
    m_lower = lower;
    for (std::optional<double> limit : {upper, lower}) {
        if (limit)
            fitTemperature(*limit);
    }
    updateLimitLines();
}

void FormChart::moveTo(qint64 nowMs, qint64 marginMs)
{
    if (nowMs <= m_rightMs - marginMs && nowMs >= m_rightMs - spanMs())
        return;
    // The view moves on in steps, leaving room on the right: moving the time axis re-lays out
    // every point in view, a new point only its own line.
    m_rightMs = nowMs + spanMs() / LeadDivisor;
    const qint64 oldest = viewStartMs();
    AxisTime->setRange(QDateTime::fromMSecsSinceEpoch(oldest),
                       QDateTime::fromMSecsSinceEpoch(m_rightMs));
    trim(oldest);
    updateLimitLines();
}

void FormChart::trim(qint64 oldestMs)
{
    while (!m_segments.empty()) {
        const Segment& front = m_segments.front();
        const int count = front.temp->count();
        if (count > 0 && front.temp->at(count - 1).x() >= double(oldestMs))
            break;
        // Wholly out of view; the next piece's first point is now the only copy.
        dropSeries(front);
        m_segments.pop_front();
        if (!m_segments.empty())
            m_segments.front().joined = false;
    }
    if (!m_segments.empty()) {
        const Segment& front = m_segments.front();
        for (QLineSeries* series : {front.temp, front.rb1, front.rb0}) {
            if (const int n = pointsBefore(series, oldestMs))
                series->removePoints(0, n);
        }
    }
    int marks = 0;
    while (marks < RuleMarkers->count() && RuleMarkers->at(marks).x() < double(oldestMs))
        ++marks;
    if (marks > 0) {
        RuleMarkers->removePoints(0, marks);
        m_markTexts.erase(m_markTexts.begin(), m_markTexts.begin() + marks);
    }
}

void FormChart::fitTemperature(double celsius)
{
    if (m_tempRange && celsius >= m_tempLow && celsius <= m_tempHigh)
        return;
    if (!m_tempRange) {
        m_tempLow = m_tempHigh = celsius;
        m_tempRange = true;
    }
    m_tempLow = std::min(m_tempLow, celsius);
    m_tempHigh = std::max(m_tempHigh, celsius);
    // Room around the line, a little more than needed so that the scale does not change at
    // every new extreme.
    const double pad = std::max(1.0, (m_tempHigh - m_tempLow) * 0.1);
    m_tempLow = std::floor(m_tempLow - pad);
    m_tempHigh = std::ceil(m_tempHigh + pad);
    AxisTemp->setRange(m_tempLow, m_tempHigh);
    AxisTemp->applyNiceNumbers(); // ticks on round degrees
    m_tempLow = AxisTemp->min();
    m_tempHigh = AxisTemp->max();
}

void FormChart::updateLimitLines()
{
    const qint64 oldest = viewStartMs();
    const std::pair<QLineSeries*, std::optional<double>> lines[] = {{UpperLimitLine, m_upper},
                                                                    {LowerLimitLine, m_lower}};
    for (const auto& [series, limit] : lines) {
        series->setVisible(limit.has_value());
        if (limit)
            series->replace({QPointF(double(oldest), *limit), QPointF(double(m_rightMs), *limit)});
    }
}

void FormChart::showMarkTip(const QPointF& point, bool entered)
{
    if (!entered) {
        QToolTip::hideText();
        return;
    }
    for (int i = 0; i < RuleMarkers->count() && size_t(i) < m_markTexts.size(); ++i) {
        if (RuleMarkers->at(i) == point) {
            QToolTip::showText(QCursor::pos(), m_markTexts[size_t(i)], ChartView);
            return;
        }
    }
}
