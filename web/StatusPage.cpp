#include "web/StatusPage.h"

#include "web/HtmlText.h"
#include "web/TrendSvg.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr qint64 HourMs = 3600 * 1000;
constexpr qint64 DayMs = 24 * HourMs;
// The day's samples lie minutes apart; a gap is a longer silence than that.
constexpr qint64 DayGapMs = 5 * 60 * 1000;
constexpr int ChartWidth = 640;
constexpr int ChartHeight = 220;

QByteArray e(const QString& text)
{
    return HtmlText::escaped(text).toUtf8();
}

QString kindText(EventKind kind)
{
    switch (kind) {
    case EventKind::Alert:
        return QCoreApplication::translate("StatusPage", "アラート");
    case EventKind::Recovered:
        return QCoreApplication::translate("StatusPage", "復帰");
    case EventKind::Reminder:
        return QCoreApplication::translate("StatusPage", "催促");
    case EventKind::Acknowledged:
        return QCoreApplication::translate("StatusPage", "確認");
    case EventKind::Mute:
        return QCoreApplication::translate("StatusPage", "通知停止");
    case EventKind::Unmute:
        return QCoreApplication::translate("StatusPage", "通知再開");
    case EventKind::Mail:
        return QCoreApplication::translate("StatusPage", "メール");
    case EventKind::Push:
        return QCoreApplication::translate("StatusPage", "プッシュ");
    case EventKind::Rearm:
        return QStringLiteral("Reset");
    }
    return {};
}

// "14:30:05" today, "12/09 14:30" before.
QString timeText(qint64 ms, qint64 nowMs)
{
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms);
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowMs);
    return at.date() == now.date() ? at.toString(QStringLiteral("HH:mm:ss"))
                                   : at.toString(QStringLiteral("MM/dd HH:mm"));
}

QString ruleState(const WebRule& rule, qint64 nowMs)
{
    if (!rule.fired)
        return QCoreApplication::translate("StatusPage", "監視中");
    const QString since = QCoreApplication::translate("StatusPage", "%1 から発報中")
                              .arg(timeText(rule.firedSinceMs, nowMs));
    return rule.acknowledged ? since + QCoreApplication::translate("StatusPage", " (確認済み)")
                             : since;
}

QByteArray ageText(const WebStatus& status)
{
    if (!status.hasReading)
        return e(QCoreApplication::translate("StatusPage", "応答待ち"));
    return e(QCoreApplication::translate("StatusPage", "%1 秒前").arg(status.replyAgeMs / 1000));
}

QByteArray muteText(const WebStatus& status, qint64 nowMs)
{
    if (status.mutedUntilMs == 0)
        return {};
    return e(QCoreApplication::translate("StatusPage", "通知停止中: %1 まで")
                 .arg(timeText(status.mutedUntilMs, nowMs)));
}

QByteArray rulesRows(const WebStatus& status, qint64 nowMs)
{
    QByteArray rows;
    for (const WebRule& rule : status.rules)
        rows += "<tr data-rule=\"" + e(rule.id) + "\" class=\"" +
                (rule.fired ? (rule.acknowledged ? "fired acknowledged" : "fired") : "armed") +
                "\"><td>" + e(rule.name) + "</td><td class=\"state\">" + e(ruleState(rule, nowMs)) +
                "</td></tr>\n";
    if (rows.isEmpty())
        rows = "<tr><td colspan=\"2\">" +
               e(QCoreApplication::translate("StatusPage", "ルールは設定されていません")) +
               "</td></tr>\n";
    return rows;
}

QByteArray eventItems(const QList<LoggedEvent>& events, qint64 nowMs)
{
    QByteArray items;
    // Newest first, as the script adds them.
    for (auto it = events.crbegin(); it != events.crend(); ++it)
        items += "<li data-id=\"" + QByteArray::number(it->id) + "\" class=\"" +
                 e(eventKindName(it->kind)) + "\"><time>" + e(timeText(it->ms, nowMs)) +
                 "</time> <span class=\"kind\">" + e(kindText(it->kind)) + "</span> " +
                 e(it->text) + "</li>\n";
    return items;
}

QByteArray actions(const StatusPage::View& view)
{
    if (!view.loginSet)
        return "<p class=\"hint\">" +
               e(QCoreApplication::translate(
                   "StatusPage", "操作するには [Web] User とパスワードを設定してください "
                                 "(zarvik-maild --web-password)")) +
               "</p>\n";
    if (view.token.isEmpty())
        return "<p class=\"hint\"><a id=\"login\" href=\"/login\">" +
               e(QCoreApplication::translate("StatusPage", "ログイン")) + "</a> " +
               e(QCoreApplication::translate("StatusPage", "すると操作できます")) + "</p>\n";
    return "<div class=\"buttons\">"
           "<button id=\"btn-rearm\" data-action=\"rearm\">Reset</button>"
           "<button id=\"btn-ack\" data-action=\"ack\">" +
           e(QCoreApplication::translate("StatusPage", "確認")) +
           "</button>"
           "<select id=\"mute-for\" aria-label=\"" +
           e(QCoreApplication::translate("StatusPage", "通知停止")) +
           "\">"
           "<option value=\"30m\">" +
           e(QCoreApplication::translate("StatusPage", "30 分")) +
           "</option><option value=\"1h\" selected>" +
           e(QCoreApplication::translate("StatusPage", "1 時間")) +
           "</option><option value=\"4h\">" +
           e(QCoreApplication::translate("StatusPage", "4 時間")) +
           "</option><option value=\"1d\">" + e(QCoreApplication::translate("StatusPage", "1 日")) +
           "</option></select>"
           "<button id=\"btn-mute\" data-action=\"mute\">" +
           e(QCoreApplication::translate("StatusPage", "通知停止")) +
           "</button>"
           "<button id=\"btn-unmute\" data-action=\"unmute\">" +
           e(QCoreApplication::translate("StatusPage", "通知再開")) + "</button></div>\n";
}

} // namespace

namespace StatusPage {

QByteArray hourChart(const WebStatus& status, qint64 nowMs)
{
    return TrendSvg::svg(status.hour, nowMs - HourMs, nowMs, status.upper, status.lower, ChartWidth,
                         ChartHeight);
}

QByteArray dayChart(const WebStatus& status, qint64 nowMs)
{
    return TrendSvg::svg(status.day, nowMs - DayMs, nowMs, status.upper, status.lower, ChartWidth,
                         ChartHeight, DayGapMs);
}

QByteArray scriptTexts()
{
    QJsonObject kinds;
    for (EventKind kind :
         {EventKind::Alert, EventKind::Recovered, EventKind::Reminder, EventKind::Acknowledged,
          EventKind::Mute, EventKind::Unmute, EventKind::Mail, EventKind::Push, EventKind::Rearm})
        kinds.insert(eventKindName(kind), kindText(kind));
    const QJsonObject texts{
        {"kinds", kinds},
        {"armed", QCoreApplication::translate("StatusPage", "監視中")},
        {"firedSince", QCoreApplication::translate("StatusPage", "%1 から発報中")},
        {"acknowledged", QCoreApplication::translate("StatusPage", " (確認済み)")},
        {"waiting", QCoreApplication::translate("StatusPage", "応答待ち")},
        {"age", QCoreApplication::translate("StatusPage", "%1 秒前")},
        {"muted", QCoreApplication::translate("StatusPage", "通知停止中: %1 まで")},
        {"noRules", QCoreApplication::translate("StatusPage", "ルールは設定されていません")},
        {"failed", QCoreApplication::translate("StatusPage", "失敗しました: %1")},
        {"offline", QCoreApplication::translate("StatusPage", "ZARVIK Mail に接続できません")},
    };
    return QJsonDocument(texts).toJson(QJsonDocument::Compact);
}

QByteArray html(const WebStatus& status, const QList<LoggedEvent>& events, const View& view)
{
    const qint64 now = view.nowMs;
    const QByteArray temperature = status.hasReading ? e(status.temperatureText) : "-";
    const QByteArray rb1 = status.hasReading ? (status.rb1 ? "H" : "L") : "-";
    const QByteArray rb0 = status.hasReading ? (status.rb0 ? "H" : "L") : "-";
    // The JSON texts sit in a data block: no script runs from the page itself.
    QByteArray texts = scriptTexts();
    texts.replace("<", "\\u003c");
    // The language the program speaks: its translation says which.
    const QByteArray lang =
        e(QCoreApplication::translate("StatusPage", "ja", "the page's lang attribute"));
    return "<!DOCTYPE html>\n<html lang=\"" + lang +
           "\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>ZARVIK Mail - " +
           e(status.board) +
           "</title>\n"
           "<link rel=\"icon\" href=\"/icon.svg\" type=\"image/svg+xml\">\n"
           "<link rel=\"stylesheet\" href=\"/page.css\">\n"
           "<script src=\"/page.js\" defer></script>\n"
           "<noscript><meta http-equiv=\"refresh\" content=\"10\"></noscript>\n"
           "</head>\n<body data-token=\"" +
           e(QString::fromLatin1(view.token)) + "\" data-last-event=\"" +
           QByteArray::number(status.lastEventId) +
           "\">\n"
           "<script type=\"application/json\" id=\"texts\">" +
           texts +
           "</script>\n"
           "<header><h1>ZARVIK Mail</h1><p>Client <span id=\"board\">" +
           e(status.board) +
           "</span></p></header>\n<main>\n<div class=\"column\">\n"
           "<section id=\"now\"><h2>Now</h2>\n<p class=\"temp\">Temp: <span id=\"temp\">" +
           temperature +
           "</span></p>\n"
           "<p class=\"sensor\">Sensor RB1 <span id=\"rb1\">" +
           rb1 + "</span> RB0 <span id=\"rb0\">" + rb0 +
           "</span></p>\n"
           "<p class=\"age\"><span id=\"age\">" +
           ageText(status) +
           "</span></p>\n"
           "<p id=\"link-problem\" class=\"problem\">" +
           e(status.linkProblem) +
           "</p>\n"
           "<p id=\"mute\" class=\"mute\">" +
           muteText(status, now) +
           "</p>\n</section>\n"
           "<section id=\"rules\"><h2>" +
           e(QCoreApplication::translate("StatusPage", "ルール")) +
           "</h2>\n<table><tbody id=\"rule-rows\">\n" + rulesRows(status, now) +
           "</tbody></table>\n</section>\n"
           "<section id=\"actions\"><h2>" +
           e(QCoreApplication::translate("StatusPage", "操作")) + "</h2>\n" + actions(view) +
           "<p id=\"action-result\" role=\"status\"></p>\n</section>\n</div>\n"
           "<div class=\"column wide\">\n<section id=\"charts\"><h2>" +
           e(QCoreApplication::translate("StatusPage", "グラフ")) +
           "</h2>\n<figure id=\"chart-hour\">" + hourChart(status, now) + "<figcaption>" +
           e(QCoreApplication::translate("StatusPage", "過去 1 時間")) +
           "</figcaption></figure>\n<figure id=\"chart-day\">" + dayChart(status, now) +
           "<figcaption>" + e(QCoreApplication::translate("StatusPage", "過去 1 日")) +
           "</figcaption></figure>\n</section>\n"
           "<section id=\"events\"><h2>" +
           e(QCoreApplication::translate("StatusPage", "イベント")) +
           "</h2>\n<ol id=\"event-list\">\n" + eventItems(events, now) +
           "</ol>\n</section>\n</div>\n</main>\n</body>\n</html>\n";
}

} // namespace StatusPage
