#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>
#include <optional>

// The status page's temperature chart, drawn by the program as inline SVG: no library, no
// script, no font or picture to fetch, so the page works with nothing but the program.
namespace TrendSvg {

struct Point {
    qint64 ms = 0; // since the epoch, UTC
    double celsius = 0.0;
};

// Three polls of 2 s without a reading. Sampled points (a day's chart) need a wider one.
constexpr qint64 DefaultGapMs = 6000;

// The readings between `fromMs` and `toMs` as lines broken where two readings lie more than
// `gapMs` apart, the limits that are set as dashed lines, the temperature and local time as
// axis labels. The vertical scale takes in the readings and the limits.
QByteArray svg(const QList<Point>& points, qint64 fromMs, qint64 toMs, std::optional<double> upper,
               std::optional<double> lower, int width, int height, qint64 gapMs = DefaultGapMs);

} // namespace TrendSvg
