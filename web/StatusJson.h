#pragma once

#include "web/EventLog.h"
#include "web/WebStatus.h"

#include <QByteArray>
#include <QJsonObject>

// The API's answers, the same facts as the page. Times are UTC in ISO 8601, inputs "H" or "L".
namespace StatusJson {

QByteArray status(const WebStatus& status);
QByteArray events(const QList<LoggedEvent>& events, quint64 lastId);
// {"error": why}, for every refusal.
QByteArray error(const QString& why);
// What an action did: {"done": action, "text": ..., extra fields}.
QByteArray done(const QString& action, const QString& text, QJsonObject extra = {});
// An ISO 8601 UTC time; null for 0.
QJsonValue time(qint64 ms);

} // namespace StatusJson
