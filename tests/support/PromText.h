#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>

// Reads the Prometheus text format back, and has promtool judge it.
namespace PromText {

// Each sample's value by its series ("name" or "name{labels}"), comments left out.
inline QMap<QByteArray, QByteArray> samples(const QByteArray& text)
{
    QMap<QByteArray, QByteArray> result;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype space = line.lastIndexOf(' ');
        if (!line.startsWith('#') && space > 0)
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
    promtool.write(text);
    promtool.closeWriteChannel();
    if (!promtool.waitForFinished(30000))
        return QStringLiteral("promtool did not finish: ") + promtool.errorString();
    const QString said = QString::fromUtf8(promtool.readAll());
    const bool accepted = promtool.exitStatus() == QProcess::NormalExit && promtool.exitCode() == 0;
    return accepted ? QString() : said + QStringLiteral(" (promtool failed)");
}

} // namespace PromText
