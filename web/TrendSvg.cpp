#include "web/TrendSvg.h"

#include "web/HtmlText.h"

#include <QDateTime>
#include <QString>
#include <algorithm>
#include <cmath>
#include <limits>

using TrendSvg::Point;

namespace {

// Room for the labels around the plot.
constexpr int LeftMargin = 46;
constexpr int RightMargin = 10;
constexpr int TopMargin = 16;
constexpr int BottomMargin = 22;
constexpr int MinSide = 120;
constexpr int MaxSide = 4000;

// Far past any board's range: keeps the scale's arithmetic finite.
bool drawable(double celsius)
{
    return std::isfinite(celsius) && std::abs(celsius) < 1e6;
}

QByteArray num(double v)
{
    return QByteArray::number(v, 'f', 1);
}

QByteArray attribute(const char* name, const QByteArray& value)
{
    return QByteArray(" ") + name + "=\"" + value + '"';
}

QByteArray text(double x, double y, const char* anchor, const QString& words)
{
    return "<text" + attribute("x", num(x)) + attribute("y", num(y)) +
           attribute("text-anchor", anchor) + ">" + HtmlText::escaped(words).toUtf8() + "</text>\n";
}

QByteArray line(const char* cls, double x1, double y1, double x2, double y2, const char* style)
{
    return "<line" + attribute("class", cls) + attribute("x1", num(x1)) + attribute("y1", num(y1)) +
           attribute("x2", num(x2)) + attribute("y2", num(y2)) + " " + style + "/>\n";
}

// About four steps of 1, 2 or 5 times a power of ten.
double niceStep(double span)
{
    const double raw = span / 4;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (raw <= m * magnitude)
            return m * magnitude;
    }
    return 10 * magnitude;
}

struct Scale {
    qint64 fromMs = 0;
    qint64 toMs = 1;
    double low = 0; // °C at the plot's bottom edge
    double high = 1;
    double step = 1; // between two labelled temperatures
    double left = 0;
    double right = 1;
    double top = 0;
    double bottom = 1;

    double x(qint64 ms) const
    {
        return left + (right - left) * double(ms - fromMs) / double(toMs - fromMs);
    }
    double y(double celsius) const
    {
        return bottom - (bottom - top) * (celsius - low) / (high - low);
    }
};

// Readings and limits all inside, at least one degree, from and to a labelled temperature.
void fitTemperatures(Scale& scale, const QList<Point>& shown, const QList<double>& limits)
{
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const Point& p : shown) {
        low = std::min(low, p.celsius);
        high = std::max(high, p.celsius);
    }
    for (const double limit : limits) {
        low = std::min(low, limit);
        high = std::max(high, limit);
    }
    if (low > high) { // nothing to show: a room's usual range
        low = 0;
        high = 40;
    }
    if (high - low < 1) {
        const double middle = (low + high) / 2;
        low = middle - 0.5;
        high = middle + 0.5;
    }
    scale.step = niceStep(high - low);
    scale.low = std::floor(low / scale.step) * scale.step;
    scale.high = std::ceil(high / scale.step) * scale.step;
}

QByteArray axes(const Scale& scale, int height)
{
    QByteArray out;
    const int decimals = scale.step < 1 ? 1 : 0;
    const auto steps = std::llround((scale.high - scale.low) / scale.step);
    for (qint64 i = 0; i <= steps; ++i) {
        const double celsius = scale.low + double(i) * scale.step;
        const double y = scale.y(celsius);
        out += line("grid", scale.left, y, scale.right, y, "stroke=\"#ddd\"");
        out += text(scale.left - 4, y + 4, "end", QString::number(celsius, 'f', decimals));
    }
    out += text(scale.left - 4, TopMargin - 5, "end", QStringLiteral("°C"));
    for (int i = 0; i <= 4; ++i) {
        const qint64 ms = scale.fromMs + (scale.toMs - scale.fromMs) * i / 4;
        const char* anchor = i == 0 ? "start" : i == 4 ? "end" : "middle";
        out += text(scale.x(ms), height - 6, anchor,
                    QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm")));
    }
    out += "<rect" + attribute("x", num(scale.left)) + attribute("y", num(scale.top)) +
           attribute("width", num(scale.right - scale.left)) +
           attribute("height", num(scale.bottom - scale.top)) +
           " fill=\"none\" stroke=\"#888\"/>\n";
    return out;
}

// One polyline per run of readings no further than `gapMs` apart.
QByteArray readingLines(const Scale& scale, const QList<Point>& shown, qint64 gapMs)
{
    QByteArray out;
    QByteArray coordinates;
    const auto flush = [&] {
        // Round caps: a lone reading between two gaps still shows as a dot.
        out += "<polyline class=\"reading\" fill=\"none\" stroke=\"#2e7d32\" stroke-width=\"1.5\" "
               "stroke-linecap=\"round\" stroke-linejoin=\"round\"" +
               attribute("points", coordinates) + "/>\n";
        coordinates.clear();
    };
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (i > 0 && shown[i].ms - shown[i - 1].ms > gapMs)
            flush();
        if (!coordinates.isEmpty())
            coordinates += ' ';
        coordinates += num(scale.x(shown[i].ms)) + ',' + num(scale.y(shown[i].celsius));
    }
    if (!coordinates.isEmpty())
        flush();
    return out;
}

} // namespace

QByteArray TrendSvg::svg(const QList<Point>& points, qint64 fromMs, qint64 toMs,
                         std::optional<double> upper, std::optional<double> lower, int width,
                         int height, qint64 gapMs)
{
    width = std::clamp(width, MinSide, MaxSide);
    height = std::clamp(height, MinSide, MaxSide);
    QList<Point> shown;
    for (const Point& p : points) {
        if (p.ms >= fromMs && p.ms <= toMs && drawable(p.celsius))
            shown.append(p);
    }
    std::stable_sort(shown.begin(), shown.end(),
                     [](const Point& a, const Point& b) { return a.ms < b.ms; });
    QList<double> limits;
    for (const auto& limit : {upper, lower}) {
        if (limit && drawable(*limit))
            limits.append(*limit);
    }

    Scale scale;
    scale.fromMs = fromMs;
    scale.toMs = std::max(toMs, fromMs + 1);
    scale.left = LeftMargin;
    scale.right = width - RightMargin;
    scale.top = TopMargin;
    scale.bottom = height - BottomMargin;
    fitTemperatures(scale, shown, limits);

    const QByteArray w = QByteArray::number(width);
    const QByteArray h = QByteArray::number(height);
    QByteArray out = "<svg xmlns=\"http://www.w3.org/2000/svg\"" + attribute("width", w) +
                     attribute("height", h) + attribute("viewBox", "0 0 " + w + ' ' + h) +
                     " role=\"img\" font-family=\"sans-serif\" font-size=\"11\" fill=\"#333\">\n";
    out += axes(scale, height);
    if (upper && drawable(*upper))
        out += line("upper", scale.left, scale.y(*upper), scale.right, scale.y(*upper),
                    "stroke=\"#c62828\" stroke-dasharray=\"6 4\"");
    if (lower && drawable(*lower))
        out += line("lower", scale.left, scale.y(*lower), scale.right, scale.y(*lower),
                    "stroke=\"#1565c0\" stroke-dasharray=\"6 4\"");
    out += readingLines(scale, shown, gapMs);
    if (shown.isEmpty())
        out += text((scale.left + scale.right) / 2, (scale.top + scale.bottom) / 2, "middle",
                    QStringLiteral("no readings"));
    return out + "</svg>\n";
}
