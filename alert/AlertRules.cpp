#include "alert/AlertRules.h"

#include "core/IntegerText.h"
#include "device/BoardProtocol.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <utility>

void SendFlagClr(AlertState& state)
{
    state.SendFlagUTemp = true;
    state.SendFlagLTemp = true;
    state.SendFlagRB1L = true;
    state.SendFlagRB1H = true;
    state.SendFlagRB0L = true;
    state.SendFlagRB0H = true;
    state.SendFlagNoReply = true;
    state.FiredRules = {};
    state.AcknowledgedRules = 0;
    state.HoldDone = 0;
}

std::uint8_t armedRules(const AlertState& state)
{
    return (state.SendFlagUTemp ? RuleUpper : 0) | (state.SendFlagLTemp ? RuleLower : 0) |
           (state.SendFlagRB1L ? RuleRb1Low : 0) | (state.SendFlagRB1H ? RuleRb1High : 0) |
           (state.SendFlagRB0L ? RuleRb0Low : 0) | (state.SendFlagRB0H ? RuleRb0High : 0) |
           (state.SendFlagNoReply ? RuleNoReply : 0);
}

std::optional<int> parseLimit(const QString& text)
{
    return IntegerText::parse(QStringView(text).trimmed());
}

namespace {

// A bad text is reported the first time it is met, not on every pass (a pass follows every burst
// of events, including closing the report itself).
bool firstTimeBad(const QString& text, std::optional<QString>& reported)
{
    if (reported == text)
        return false;
    reported = text;
    return true;
}

QString limitError(const QString& text)
{
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

QString secondsError(const QString& text)
{
    return QStringLiteral("'%1' is not a valid number of seconds (a whole number above 0)")
        .arg(text);
}

// Converts a limit, or ends the pass: loudly for a text not yet reported, quietly after that.
std::optional<int> limitOrStop(const QString& text, std::optional<QString>& reported,
                               QString* error)
{
    if (const auto limit = parseLimit(text)) {
        reported.reset();
        return limit;
    }
    if (firstTimeBad(text, reported) && error)
        *error = limitError(text);
    return std::nullopt;
}

// A whole number, 0 or more, times `unitMs`; reported once when bad.
std::optional<qint64> durationMs(const QString& text, qint64 unitMs, const char* unit,
                                 std::optional<QString>& reported, QString* error)
{
    const auto value = parseLimit(text);
    if (value && *value >= 0) {
        reported.reset();
        return qint64(*value) * unitMs;
    }
    if (firstTimeBad(text, reported) && error)
        *error = QStringLiteral("'%1' is not a valid number of %2 (a whole number, 0 or more)")
                     .arg(text, QLatin1String(unit));
    return std::nullopt;
}

void addError(QString* error, const QString& more)
{
    if (error && !more.isEmpty())
        *error += (error->isEmpty() ? QString() : QStringLiteral("\n")) + more;
}

struct InputRule {
    bool AlertState::*flag;
    int AlertConfig::*choice;
    int firesOn;
    std::uint8_t mask;
    bool rising;
    std::uint8_t pending;
    QString AlertConfig::*memo;
    const char16_t* subject;
    const char* message; // translated where it is said
};

// Evaluated in this order.
const InputRule inputRules[] = {
    {&AlertState::SendFlagRB1L, &AlertConfig::rb1Choice, SendOnLow, BoardProtocol::Rb1Mask, false,
     Rb1Fall, &AlertConfig::rb1Memo, u"RB1 is \"L\". ",
     QT_TRANSLATE_NOOP("AlertRules", "RB1が\"L\"になりました")},
    {&AlertState::SendFlagRB1H, &AlertConfig::rb1Choice, SendOnHigh, BoardProtocol::Rb1Mask, true,
     Rb1Rise, &AlertConfig::rb1Memo, u"RB1 is \"H\". ",
     QT_TRANSLATE_NOOP("AlertRules", "RB1が\"H\"になりました")},
    {&AlertState::SendFlagRB0L, &AlertConfig::rb0Choice, SendOnLow, BoardProtocol::Rb0Mask, false,
     Rb0Fall, &AlertConfig::rb0Memo, u"RB0 is \"L\". ",
     QT_TRANSLATE_NOOP("AlertRules", "RB0が\"L\"になりました")},
    {&AlertState::SendFlagRB0H, &AlertConfig::rb0Choice, SendOnHigh, BoardProtocol::Rb0Mask, true,
     Rb0Rise, &AlertConfig::rb0Memo, u"RB0 is \"H\". ",
     QT_TRANSLATE_NOOP("AlertRules", "RB0が\"H\"になりました")},
};

bool hasEdge(const DeviceReadings& readings, std::uint8_t mask, bool rising)
{
    const bool now = readings.PortBits & mask;
    const bool before = readings.PrevPortBits & mask;
    return rising ? (now && !before) : (!now && before);
}

bool atLevel(const DeviceReadings& readings, const InputRule& rule)
{
    return bool(readings.PortBits & rule.mask) == rule.rising;
}

// What a rule adds when it fires, in AlertRule bit order.
struct RuleText {
    QString subject; // ends in a blank
    QString message;
    QString memo;
};

RuleText ruleText(int rule, const AlertConfig& config)
{
    switch (rule) {
    case 0:
        return {QStringLiteral("Over ") + config.upperLimitText + QStringLiteral("C "),
                QCoreApplication::translate("AlertRules", "温度が %1℃を超えました。")
                    .arg(config.upperLimitText),
                config.upperMemo};
    case 1:
        return {QStringLiteral("Under ") + config.lowerLimitText + QStringLiteral("C "),
                QCoreApplication::translate("AlertRules", "温度が %1℃より下がりました。")
                    .arg(config.lowerLimitText),
                config.lowerMemo};
    case 6:
        return {QStringLiteral("No reply ") + config.noReplySecondsText + QStringLiteral("s "),
                QCoreApplication::translate("AlertRules", "応答がありません (%1秒)")
                    .arg(config.noReplySecondsText),
                config.noReplyMemo};
    default: {
        const InputRule& input = inputRules[rule - 2];
        return {QString::fromUtf16(input.subject),
                QCoreApplication::translate("AlertRules", input.message), config.*input.memo};
    }
    }
}

void fire(AlertState& state, int rule, const AlertConfig& config)
{
    const RuleText text = ruleText(rule, config);
    state.MailBody += text.memo;
    state.MailSubject += text.subject;
    state.Shown << text.message;
}

// The no-reply rule: evaluated after the input rules. A bad seconds text stops it alone.
void noReplyRule(AlertState& state, const AlertConfig& config, qint64 msSinceLastReply,
                 QString* error)
{
    if (!state.SendFlagNoReply || !config.noReplyChecked)
        return;
    const QString& text = config.noReplySecondsText;
    const auto seconds = parseLimit(text);
    if (!seconds || *seconds <= 0) {
        if (firstTimeBad(text, state.reportedBadNoReply) && error)
            *error = secondsError(text);
        return;
    }
    state.reportedBadNoReply.reset();
    if (msSinceLastReply < qint64(*seconds) * 1000)
        return;
    state.SendFlagNoReply = false;
    fire(state, 6, config);
}

} // namespace

void noteNewReply(AlertState& state, const DeviceReadings& readings)
{
    if (!state.EdgesSeen) {
        for (const InputRule& rule : inputRules) {
            if (hasEdge(readings, rule.mask, rule.rising))
                state.PendingEdges |= rule.pending;
        }
    }
    state.EdgesSeen = false;
}

bool runAlertPass(AlertState& state, const DeviceReadings& readings, const AlertConfig& config,
                  qint64 msSinceLastReply, QString* error)
{
    state.MailBody.clear();
    state.MailSubject.clear();
    state.Shown.clear();
    // A bad hold fires at once, as without one: an alert is never held back by a typo.
    QString badHold;
    const bool holding =
        durationMs(config.holdSecondsText, 1000, "seconds", state.reportedBadHoldSec, &badHold)
            .value_or(0) > 0;
    addError(error, badHold);
    const std::uint8_t held = std::exchange(state.HoldDone, 0);

    // Before the first reply there is no temperature, only the start value.
    if (readings.HaveReply && state.SendFlagUTemp && config.upperChecked) {
        const auto limit = limitOrStop(config.upperLimitText, state.reportedBadUpper, error);
        if (!limit)
            return false;
        if (holding ? bool(held & RuleUpper) : readings.NowTempValue > *limit) {
            state.SendFlagUTemp = false;
            fire(state, 0, config);
        }
    }

    if (readings.HaveReply && state.SendFlagLTemp && config.lowerChecked) {
        const auto limit = limitOrStop(config.lowerLimitText, state.reportedBadLower, error);
        if (!limit)
            return false;
        if (holding ? bool(held & RuleLower) : readings.NowTempValue < *limit) {
            state.SendFlagLTemp = false;
            fire(state, 1, config);
        }
    }

    for (int i = 0; i < int(std::size(inputRules)); ++i) {
        const InputRule& rule = inputRules[i];
        if (!(state.*rule.flag) || config.*rule.choice != rule.firesOn)
            continue;
        const bool fires = holding ? bool(held & (RuleRb1Low << i))
                                   : hasEdge(readings, rule.mask, rule.rising) ||
                                         (state.PendingEdges & rule.pending);
        if (!fires)
            continue;
        state.*rule.flag = false;
        fire(state, i + 2, config);
    }
    state.PendingEdges = 0;
    state.EdgesSeen = true;

    noReplyRule(state, config, msSinceLastReply, error);

    return !state.MailBody.isEmpty();
}

void trackHold(AlertState& state, const DeviceReadings& readings, const AlertConfig& config,
               qint64 replyMs)
{
    const qint64 holdMs =
        qint64(std::max(0, parseLimit(config.holdSecondsText).value_or(0))) * 1000;
    const auto upper = parseLimit(config.upperLimitText);
    const auto lower = parseLimit(config.lowerLimitText);
    for (int i = 0; i < int(state.HoldSinceMs.size()); ++i) {
        std::optional<qint64>& since = state.HoldSinceMs[i];
        bool meets = false;
        if (i == 0) {
            meets = config.upperChecked && upper && readings.NowTempValue > *upper;
        } else if (i == 1) {
            meets = config.lowerChecked && lower && readings.NowTempValue < *lower;
        } else {
            // An input's run starts at its edge, as the rule without a hold fires on the edge.
            const InputRule& rule = inputRules[i - 2];
            meets = config.*rule.choice == rule.firesOn && atLevel(readings, rule) &&
                    (since || hasEdge(readings, rule.mask, rule.rising));
        }
        if (!meets) {
            since.reset();
            continue;
        }
        if (!since)
            since = replyMs;
        if (replyMs - *since >= holdMs) {
            state.HoldDone |= std::uint8_t(1 << i);
            // An input fires again only after a new edge.
            if (i >= 2)
                since.reset();
        }
    }
}

std::uint8_t holdingRules(const DeviceReadings& readings, const AlertConfig& config,
                          qint64 msSinceLastReply)
{
    std::uint8_t rules = 0;
    const auto upper = parseLimit(config.upperLimitText);
    const auto lower = parseLimit(config.lowerLimitText);
    if (readings.HaveReply && config.upperChecked && upper && readings.NowTempValue > *upper)
        rules |= RuleUpper;
    if (readings.HaveReply && config.lowerChecked && lower && readings.NowTempValue < *lower)
        rules |= RuleLower;
    for (int i = 0; i < int(std::size(inputRules)); ++i) {
        const InputRule& rule = inputRules[i];
        if (readings.HaveReply && config.*rule.choice == rule.firesOn && atLevel(readings, rule))
            rules |= std::uint8_t(RuleRb1Low << i);
    }
    const auto seconds = parseLimit(config.noReplySecondsText);
    if (config.noReplyChecked && seconds && *seconds > 0 &&
        msSinceLastReply >= qint64(*seconds) * 1000)
        rules |= RuleNoReply;
    return rules;
}

FiredTexts firedTexts(std::uint8_t rules, const AlertConfig& config)
{
    AlertState state;
    for (int i = 0; i < 7; ++i) {
        if (rules & (1 << i))
            fire(state, i, config);
    }
    return {state.MailSubject, state.MailBody, state.Shown};
}

QString rulePieces(std::uint8_t rules, const AlertConfig& config)
{
    QStringList pieces;
    for (int i = 0; i < 7; ++i) {
        if (rules & (1 << i))
            pieces << ruleText(i, config).subject.trimmed();
    }
    return pieces.join(QStringLiteral(", "));
}

std::uint8_t acknowledge(AlertState& state)
{
    const std::uint8_t fired = std::uint8_t(~armedRules(state) & 0x7F);
    const std::uint8_t fresh = fired & ~state.AcknowledgedRules;
    state.AcknowledgedRules |= fresh;
    return fresh;
}

namespace {

// One fired rule as the follow-up pass sees it.
struct FollowUp {
    bool active = false; // its check box or choice still asks for it
    bool holds = false;  // its condition still holds
    bool clear = false;  // clear enough to count towards re-arming (temperatures, inputs)
    QString piece;       // its subject text, without the trailing blank
    QString recovered;   // the on-screen messages
    QString reminder;
};

FollowUp temperatureFollowUp(const DeviceReadings& readings, bool checked, const QString& text,
                             std::optional<double> hysteresis, bool upper)
{
    FollowUp f;
    const auto limit = parseLimit(text);
    f.active = checked && limit;
    if (!f.active)
        return f;
    const long double t = readings.NowTempValue;
    f.holds = readings.HaveReply && (upper ? t > *limit : t < *limit);
    f.clear = readings.HaveReply && hysteresis &&
              (upper ? t < *limit - *hysteresis : t > *limit + *hysteresis);
    f.piece =
        (upper ? QStringLiteral("Over ") : QStringLiteral("Under ")) + text + QStringLiteral("C");
    f.recovered =
        (upper
             ? QCoreApplication::translate("AlertRules", "温度が %1℃を下回り、正常に戻りました。")
             : QCoreApplication::translate("AlertRules", "温度が %1℃を上回り、正常に戻りました。"))
            .arg(text);
    f.reminder =
        (upper ? QCoreApplication::translate("AlertRules", "温度が %1℃を超えたままです。")
               : QCoreApplication::translate("AlertRules", "温度が %1℃より下がったままです。"))
            .arg(text);
    return f;
}

FollowUp inputFollowUp(const DeviceReadings& readings, const AlertConfig& config,
                       const InputRule& rule)
{
    FollowUp f;
    f.active = config.*rule.choice == rule.firesOn;
    const bool high = readings.PortBits & rule.mask;
    f.holds = readings.HaveReply && high == rule.rising;
    f.clear = readings.HaveReply && high != rule.rising;
    f.piece = QString::fromUtf16(rule.subject).trimmed();
    const QString input =
        rule.mask == BoardProtocol::Rb1Mask ? QStringLiteral("RB1") : QStringLiteral("RB0");
    const QString level = rule.rising ? QStringLiteral("\"H\"") : QStringLiteral("\"L\"");
    const QString other = rule.rising ? QStringLiteral("\"L\"") : QStringLiteral("\"H\"");
    f.recovered = QCoreApplication::translate("AlertRules", "%1が%2に戻りました").arg(input, other);
    f.reminder = QCoreApplication::translate("AlertRules", "%1が%2のままです").arg(input, level);
    return f;
}

FollowUp noReplyFollowUp(const AlertConfig& config, qint64 msSinceLastReply)
{
    FollowUp f;
    const QString& text = config.noReplySecondsText;
    const auto seconds = parseLimit(text);
    f.active = config.noReplyChecked && seconds && *seconds > 0;
    if (!f.active)
        return f;
    f.holds = msSinceLastReply >= qint64(*seconds) * 1000;
    // Its recovery reads without the seconds: the silence is over, however long it was.
    f.piece = QStringLiteral("No reply ") + text + QStringLiteral("s");
    f.recovered = QCoreApplication::translate("AlertRules", "応答が戻りました");
    f.reminder = QCoreApplication::translate("AlertRules", "応答がないままです (%1秒)").arg(text);
    return f;
}

std::optional<double> hysteresisOf(const QString& text, std::optional<QString>& reported,
                                   QString* error)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (ok && std::isfinite(value) && value >= 0) {
        reported.reset();
        return value;
    }
    if (firstTimeBad(text, reported) && error)
        *error = QStringLiteral("'%1' is not a valid hysteresis (degrees, 0 or more)").arg(text);
    return std::nullopt;
}

bool AlertState::*const RuleFlags[] = {
    &AlertState::SendFlagUTemp,   &AlertState::SendFlagLTemp, &AlertState::SendFlagRB1L,
    &AlertState::SendFlagRB1H,    &AlertState::SendFlagRB0L,  &AlertState::SendFlagRB0H,
    &AlertState::SendFlagNoReply,
};

} // namespace

QList<AlertNotice> runFollowUpPass(AlertState& state, const DeviceReadings& readings,
                                   const AlertConfig& config, qint64 msSinceLastReply, qint64 nowMs,
                                   QString* error)
{
    QString bad;
    std::optional<qint64> reArmMs;
    std::optional<double> hysteresis;
    if (config.reArm) {
        reArmMs =
            durationMs(config.reArmSecondsText, 1000, "seconds", state.reportedBadReArmSec, &bad);
        addError(error, std::exchange(bad, QString()));
        hysteresis = hysteresisOf(config.hysteresisText, state.reportedBadHysteresis, &bad);
        addError(error, std::exchange(bad, QString()));
    }
    // 0: no reminders, as for a bad text.
    const qint64 remindMs =
        durationMs(config.remindMinutesText, 60000, "minutes", state.reportedBadRemindMin, &bad)
            .value_or(0);
    addError(error, bad);

    QList<AlertNotice> notices;
    const std::uint8_t armed = armedRules(state);
    const qint64 lastReplyMs = nowMs - msSinceLastReply;
    for (int i = 0; i < int(state.FiredRules.size()); ++i) {
        AlertState::Fired& fired = state.FiredRules[i];
        if (armed & (1 << i)) {
            fired = {};
            state.AcknowledgedRules &= std::uint8_t(~(1 << i));
            continue;
        }
        if (!fired.tracked) {
            fired = {true, nowMs, nowMs, std::nullopt};
            continue;
        }
        const FollowUp f = i == 0   ? temperatureFollowUp(readings, config.upperChecked,
                                                          config.upperLimitText, hysteresis, true)
                           : i == 1 ? temperatureFollowUp(readings, config.lowerChecked,
                                                          config.lowerLimitText, hysteresis, false)
                           : i == 6 ? noReplyFollowUp(config, msSinceLastReply)
                                    : inputFollowUp(readings, config, inputRules[i - 2]);
        if (!f.active) {
            fired.clearSinceMs.reset();
            continue;
        }
        bool recovered = false;
        if (i == 6) {
            recovered = reArmMs && lastReplyMs > fired.firedMs;
        } else if (!f.clear) {
            fired.clearSinceMs.reset();
        } else if (readings.HaveReply) {
            if (!fired.clearSinceMs)
                fired.clearSinceMs = lastReplyMs;
            recovered = reArmMs && lastReplyMs - *fired.clearSinceMs >= *reArmMs;
        }
        const std::uint8_t rule = std::uint8_t(1 << i);
        if (recovered) {
            state.*RuleFlags[i] = true;
            state.AcknowledgedRules &= std::uint8_t(~rule);
            fired = {};
            notices.append(
                {NoticeKind::Recovered, rule,
                 QStringLiteral("Recovered: ") + (i == 6 ? QStringLiteral("No reply") : f.piece),
                 f.recovered});
        } else if (remindMs > 0 && f.holds && nowMs - fired.toldMs >= remindMs &&
                   !(state.AcknowledgedRules & rule)) {
            fired.toldMs = nowMs;
            notices.append(
                {NoticeKind::Reminder, rule, QStringLiteral("Reminder: ") + f.piece, f.reminder});
        }
    }
    return notices;
}
