#include "web/TrendSvg.h"

#include <QXmlStreamReader>
#include <QtTest>
#include <optional>

using TrendSvg::Point;
using Limit = std::optional<double>;

namespace {

constexpr int Width = 600;
constexpr int Height = 240;
constexpr qint64 From = 1'700'000'000'000;
constexpr qint64 To = From + 60 * 60 * 1000;

// Readings every 2 s from `startMs`, one for each temperature.
QList<Point> polled(qint64 startMs, const QList<double>& celsius)
{
    QList<Point> points;
    for (qsizetype i = 0; i < celsius.size(); ++i)
        points.append({startMs + i * 2000, celsius[i]});
    return points;
}

struct Drawn {
    QString xmlError;
    QList<QList<QPointF>> lines; // each polyline's points
    std::optional<double> upperY;
    std::optional<double> lowerY;
};

Drawn parse(const QByteArray& svg)
{
    Drawn drawn;
    QXmlStreamReader xml(svg);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = xml.attributes();
        const QStringView cls = a.value("class");
        if (xml.name() == u"polyline") {
            QList<QPointF> points;
            for (const QString& pair : a.value("points").toString().split(' ')) {
                const QStringList xy = pair.split(',');
                points.append({xy.value(0).toDouble(), xy.value(1).toDouble()});
            }
            drawn.lines.append(points);
        } else if (xml.name() == u"line" && (cls == u"upper" || cls == u"lower")) {
            // A level line: its y2 must be y1, or it reads as no line.
            (cls == u"upper" ? drawn.upperY : drawn.lowerY) =
                a.value("y1") == a.value("y2") ? std::optional(a.value("y1").toDouble())
                                               : std::nullopt;
        }
    }
    drawn.xmlError = xml.errorString();
    return drawn;
}

} // namespace

class TestTrendSvg : public QObject {
    Q_OBJECT
private slots:
    void chart_data();
    void chart();
};

void TestTrendSvg::chart_data()
{
    using Lines = QList<QList<double>>;
    QTest::addColumn<QList<Point>>("points");
    QTest::addColumn<Limit>("upper");
    QTest::addColumn<Limit>("lower");
    // The temperatures of each unbroken line, oldest first.
    QTest::addColumn<Lines>("lines");

    QTest::newRow("nothing yet") << QList<Point>{} << Limit{} << Limit{} << Lines{};
    QTest::newRow("steady") << polled(From, {21, 21.5, 22}) << Limit{} << Limit{}
                            << Lines{{21, 21.5, 22}};
    QTest::newRow("one reading") << polled(From + 5000, {21}) << Limit{} << Limit{} << Lines{{21}};
    QTest::newRow("outside the hour left out")
        << polled(From - 4000, {10, 11, 12, 13}) + polled(To - 2000, {14, 15, 16}) << Limit{}
        << Limit{} << Lines{{12, 13}, {14, 15}};
    QTest::newRow("silent board breaks the line")
        << polled(From, {20, 21}) + polled(From + 30000, {23, 24}) << Limit{} << Limit{}
        << Lines{{20, 21}, {23, 24}};
    QTest::newRow("lone reading between gaps")
        << polled(From, {20, 21}) + polled(From + 60000, {22}) + polled(From + 120000, {23})
        << Limit{} << Limit{} << Lines{{20, 21}, {22}, {23}};
    QTest::newRow("out of order") << QList<Point>{{From + 4000, 22}, {From, 20}, {From + 2000, 21}}
                                  << Limit{} << Limit{} << Lines{{20, 21, 22}};
    QTest::newRow("not a number dropped")
        << polled(From, {20, qQNaN(), 22, qInf()}) << Limit{} << Limit{} << Lines{{20, 22}};
    QTest::newRow("limits on readings")
        << polled(From, {20, 25, 30}) << Limit{30.0} << Limit{20.0} << Lines{{20, 25, 30}};
    QTest::newRow("limits far out")
        << polled(From, {20, 25}) << Limit{80.0} << Limit{-15.5} << Lines{{20, 25}};
    QTest::newRow("upper within a degree")
        << polled(From, {4.2, 4.3}) << Limit{4.25} << Limit{} << Lines{{4.2, 4.3}};
    QTest::newRow("limits without readings")
        << QList<Point>{} << Limit{30.0} << Limit{10.0} << Lines{};
}

void TestTrendSvg::chart()
{
    QFETCH(QList<Point>, points);
    QFETCH(Limit, upper);
    QFETCH(Limit, lower);
    QFETCH(QList<QList<double>>, lines);

    const QByteArray svg = TrendSvg::svg(points, From, To, upper, lower, Width, Height);
    // Inline in the page: nothing it could fetch or run.
    for (const char* banned : {"href", "script", "url("})
        QVERIFY2(!svg.contains(banned), banned);
    QVERIFY(svg.startsWith("<svg"));
    const Drawn drawn = parse(svg);
    QVERIFY2(drawn.xmlError.isEmpty(), qPrintable(drawn.xmlError));
    QCOMPARE(drawn.lines.size(), lines.size());
    QList<QPointF> xy;
    QList<double> celsius;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QCOMPARE(drawn.lines[i].size(), lines[i].size());
        xy += drawn.lines[i];
        celsius += lines[i];
    }
    for (qsizetype i = 0; i < xy.size(); ++i) {
        QVERIFY(QRectF(0, 0, Width, Height).contains(xy[i]));
        if (i > 0) // left to right, warmer higher
            QVERIFY(xy[i].x() > xy[i - 1].x() &&
                    (celsius[i] > celsius[i - 1]) == (xy[i].y() < xy[i - 1].y()));
    }

    // Each limit level with a reading of its temperature, warmer readings above its line.
    QCOMPARE(drawn.upperY.has_value(), upper.has_value());
    QCOMPARE(drawn.lowerY.has_value(), lower.has_value());
    for (const auto& [limit, y] :
         {std::pair{upper, drawn.upperY}, std::pair{lower, drawn.lowerY}}) {
        if (!limit)
            continue;
        QVERIFY(*y > 0 && *y < Height);
        for (qsizetype i = 0; i < xy.size(); ++i) {
            if (celsius[i] == *limit)
                QCOMPARE(xy[i].y(), *y);
            else
                QCOMPARE(celsius[i] > *limit, xy[i].y() < *y);
        }
    }
    if (upper && lower)
        QVERIFY(*drawn.upperY < *drawn.lowerY);
}

QTEST_GUILESS_MAIN(TestTrendSvg)
#include "tst_trendsvg.moc"
