#include "alert/AlertRules.h"

#include "core/IntegerText.h"
#include "device/BoardProtocol.h"

void SendFlagClr(AlertState& state)
{
    state.SendFlagUTemp = true;
    state.SendFlagLTemp = true;
    state.SendFlagRB1L = true;
    state.SendFlagRB1H = true;
    state.SendFlagRB0L = true;
    state.SendFlagRB0H = true;
    state.SendFlagNoReply = true;
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

struct InputRule {
    bool AlertState::*flag;
    int AlertConfig::*choice;
    int firesOn;
    std::uint8_t mask;
    bool rising;
    std::uint8_t pending;
    QString AlertConfig::*memo;
    const char16_t* subject;
    const char16_t* message;
};

// Evaluated in this order.
const InputRule inputRules[] = {
    {&AlertState::SendFlagRB1L, &AlertConfig::rb1Choice, SendOnLow, BoardProtocol::Rb1Mask, false,
     Rb1Fall, &AlertConfig::rb1Memo, u"RB1 is \"L\". ", u"RB1が\"L\"になりました"},
    {&AlertState::SendFlagRB1H, &AlertConfig::rb1Choice, SendOnHigh, BoardProtocol::Rb1Mask, true,
     Rb1Rise, &AlertConfig::rb1Memo, u"RB1 is \"H\". ", u"RB1が\"H\"になりました"},
    {&AlertState::SendFlagRB0L, &AlertConfig::rb0Choice, SendOnLow, BoardProtocol::Rb0Mask, false,
     Rb0Fall, &AlertConfig::rb0Memo, u"RB0 is \"L\". ", u"RB0が\"L\"になりました"},
    {&AlertState::SendFlagRB0H, &AlertConfig::rb0Choice, SendOnHigh, BoardProtocol::Rb0Mask, true,
     Rb0Rise, &AlertConfig::rb0Memo, u"RB0 is \"H\". ", u"RB0が\"H\"になりました"},
};

bool hasEdge(const DeviceReadings& readings, std::uint8_t mask, bool rising)
{
    const bool now = readings.PortBits & mask;
    const bool before = readings.PrevPortBits & mask;
    return rising ? (now && !before) : (!now && before);
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
    state.MailBody += config.noReplyMemo;
    state.MailSubject += QStringLiteral("No reply ") + text + QStringLiteral("s ");
    state.Shown << QStringLiteral("応答がありません (") + text + QStringLiteral("秒)");
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

    // Before the first reply there is no temperature, only the start value.
    if (readings.HaveReply && state.SendFlagUTemp && config.upperChecked) {
        const QString& text = config.upperLimitText;
        const auto limit = limitOrStop(text, state.reportedBadUpper, error);
        if (!limit)
            return false;
        if (readings.NowTempValue > *limit) {
            state.SendFlagUTemp = false;
            state.MailBody = config.upperMemo;
            state.MailSubject = QStringLiteral("Over ") + text + QStringLiteral("C ");
            state.Shown << QStringLiteral("温度が ") + text + QStringLiteral("℃を超えました。");
        }
    }

    if (readings.HaveReply && state.SendFlagLTemp && config.lowerChecked) {
        const QString& text = config.lowerLimitText;
        const auto limit = limitOrStop(text, state.reportedBadLower, error);
        if (!limit)
            return false;
        if (readings.NowTempValue < *limit) {
            state.SendFlagLTemp = false;
            state.MailBody += config.lowerMemo;
            state.MailSubject += QStringLiteral("Under ") + text + QStringLiteral("C ");
            state.Shown << QStringLiteral("温度が ") + text + QStringLiteral("℃より下がりました。");
        }
    }

    for (const InputRule& rule : inputRules) {
        if (!(state.*rule.flag) || config.*rule.choice != rule.firesOn ||
            (!hasEdge(readings, rule.mask, rule.rising) && !(state.PendingEdges & rule.pending)))
            continue;
        state.*rule.flag = false;
        state.MailBody += config.*rule.memo;
        state.MailSubject += QString::fromUtf16(rule.subject);
        state.Shown << QString::fromUtf16(rule.message);
    }
    state.PendingEdges = 0;
    state.EdgesSeen = true;

    noReplyRule(state, config, msSinceLastReply, error);

    return !state.MailBody.isEmpty();
}
