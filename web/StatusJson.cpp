#include "web/StatusJson.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonValue optional(const std::optional<double>& value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

QString level(bool high)
{
    return high ? QStringLiteral("H") : QStringLiteral("L");
}

} // namespace

namespace StatusJson {

QJsonValue time(qint64 ms)
{
    if (ms == 0)
        return {};
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QByteArray status(const WebStatus& status)
{
    QJsonObject reading;
    if (status.hasReading)
        reading = {{"temperature", status.celsius},
                   {"text", status.temperatureText},
                   {"rb1", level(status.rb1)},
                   {"rb0", level(status.rb0)},
                   {"time", time(status.lastReplyMs)},
                   {"ageSeconds", double(status.replyAgeMs) / 1000.0}};
    QJsonArray rules;
    for (const WebRule& rule : status.rules)
        rules.append(QJsonObject{{"id", rule.id},
                                 {"name", rule.name},
                                 {"armed", !rule.fired},
                                 {"fired", rule.fired},
                                 {"firedSince", time(rule.fired ? rule.firedSinceMs : 0)},
                                 {"acknowledged", rule.acknowledged},
                                 {"muted", status.mutedUntilMs != 0}});
    return compact({{"board", status.board},
                    {"reading", status.hasReading ? QJsonValue(reading) : QJsonValue()},
                    {"linkProblem",
                     status.linkProblem.isEmpty() ? QJsonValue() : QJsonValue(status.linkProblem)},
                    {"rules", rules},
                    {"mutedUntil", time(status.mutedUntilMs)},
                    {"limits", QJsonObject{{"upper", optional(status.upper)},
                                           {"lower", optional(status.lower)}}},
                    {"lastEventId", qint64(status.lastEventId)}});
}

QByteArray events(const QList<LoggedEvent>& events, quint64 lastId)
{
    QJsonArray list;
    for (const LoggedEvent& event : events)
        list.append(QJsonObject{{"id", qint64(event.id)},
                                {"time", time(event.ms)},
                                {"kind", eventKindName(event.kind)},
                                {"text", event.text}});
    return compact({{"events", list}, {"lastId", qint64(lastId)}});
}

QByteArray error(const QString& why)
{
    return compact({{"error", why}});
}

QByteArray done(const QString& action, const QString& text, QJsonObject extra)
{
    extra.insert(QStringLiteral("done"), action);
    extra.insert(QStringLiteral("text"), text);
    return compact(extra);
}

} // namespace StatusJson
