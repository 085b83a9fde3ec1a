#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>

// Reads the Prometheus text format back, and has promtool judge it.
namespace PromText {

// Each sample line's value by its series ("name" or "name{labels}"), comments left out.
inline QMap<QByteArray, QByteArray> samples(const QByteArray& text)
{
    QMap<QByteArray, QByteArray> result;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype space = line.lastIndexOf(' ');
        result.insert(line.left(space), line.mid(space + 1));
    }
    return result;
}

// Empty when `promtool check metrics` accepts the text, else what it said.
inline QString promtoolProblems(const QByteArray& text)
{
    QProcess promtool;
    promtool.setProcessChannelMode(QProcess::MergedChannels);
    promtool.start(QStringLiteral("promtool"),
                   {QStringLiteral("check"), QStringLiteral("metrics")});
    if (!promtool.waitForStarted(10000))
        return QStringLiteral("promtool did not start: ") + promtool.errorString();
    promtool.write(text);
    promtool.closeWriteChannel();
    if (!promtool.waitForFinished(30000)) {
        promtool.kill();
        return QStringLiteral("promtool did not finish");
    }
    const QString said = QString::fromUtf8(promtool.readAll());
    if (promtool.exitStatus() == QProcess::NormalExit && promtool.exitCode() == 0)
        return {};
    return said.isEmpty() ? QStringLiteral("promtool failed") : said;
}

} // namespace PromText
