#pragma once

#include "device/DeviceReadings.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <iterator>
#include <optional>

// The seven one-shot alert rules (two limits, four input edges, silence). Each armed rule that
// fires disarms itself, adds its memo to the mail body and its piece to the subject, and shows its
// message, until "Reset" re-arms it.

struct AlertState {
    bool SendFlagUTemp = false;
    bool SendFlagLTemp = false;
    bool SendFlagRB1L = false;
    bool SendFlagRB1H = false;
    bool SendFlagRB0L = false;
    bool SendFlagRB0H = false;
    bool SendFlagNoReply = false;
    // Input edges of replies that the next one replaced before any pass saw them
    // (PendingEdge bits); the next pass that reaches the input rules takes them.
    std::uint8_t PendingEdges = 0;
    bool EdgesSeen = false; // a pass has reached the input rules since the last reply
    QString MailBody;
    QString MailSubject;
    // The on-screen messages of the rules the last pass fired, in order; the last one stays shown.
    QStringList Shown;
    // The last bad limit text reported for each edit, so one mistake is reported once, not on
    // every pass (a pass follows every burst of events, including closing the report itself).
    std::optional<QString> reportedBadUpper;
    std::optional<QString> reportedBadLower;
    std::optional<QString> reportedBadNoReply;
    std::optional<QString> reportedBadReArmSec;
    std::optional<QString> reportedBadHysteresis;
    std::optional<QString> reportedBadRemindMin;
    std::optional<QString> reportedBadHoldSec;
    // Waiting before firing, for the temperature and input rules in AlertRule bit order: the
    // first reply of the run that met the condition (steady ms), and the rules whose run has
    // lasted the hold on a reply since the last pass.
    std::array<std::optional<qint64>, 6> HoldSinceMs{};
    std::uint8_t HoldDone = 0;
    // Fired rules a person has seen: no reminders for them until they re-arm.
    std::uint8_t AcknowledgedRules = 0;
    // What the follow-up pass knows of each fired rule, in AlertRule bit order (steady ms).
    struct Fired {
        bool tracked = false;
        qint64 firedMs = 0;
        qint64 toldMs = 0;                  // fired, or last reminded
        std::optional<qint64> clearSinceMs; // first reply of the clear run that goes on
    };
    std::array<Fired, 7> FiredRules{};
};

enum PendingEdge : std::uint8_t { Rb1Fall = 1, Rb1Rise = 2, Rb0Fall = 4, Rb0Rise = 8 };

// A reply is about to replace `readings`: keeps the edges they show when no pass has seen them.
void noteNewReply(AlertState& state, const DeviceReadings& readings);

// Arms all seven rules, silently.
void SendFlagClr(AlertState& state);

// One bit per rule, for telling which rules a pass fired: armed before, disarmed after.
enum AlertRule : std::uint8_t {
    RuleUpper = 1,
    RuleLower = 2,
    RuleRb1Low = 4,
    RuleRb1High = 8,
    RuleRb0Low = 16,
    RuleRb0High = 32,
    RuleNoReply = 64,
};
std::uint8_t armedRules(const AlertState& state);
// Short names of the rules, in AlertRule bit order: metrics labels and log lines.
inline constexpr const char* AlertRuleNames[] = {"upper",   "lower",    "rb1_low", "rb1_high",
                                                 "rb0_low", "rb0_high", "no_reply"};
static_assert(std::size(AlertRuleNames) == 7 && RuleNoReply == 1 << 6);

// Radio index meaning for the input rules.
enum InputRuleChoice { SendOnHigh = 0, SendOnLow = 1, DoNotSend = 2 };

// What the rules act on: the settings in force when the pass runs. The limit and seconds texts
// are kept as typed; they go into the subject and message as they are.
struct AlertConfig {
    bool upperChecked = false;
    QString upperLimitText;
    QString upperMemo;
    bool lowerChecked = false;
    QString lowerLimitText;
    QString lowerMemo;
    int rb1Choice = DoNotSend;
    QString rb1Memo;
    int rb0Choice = DoNotSend;
    QString rb0Memo;
    bool noReplyChecked = false;
    QString noReplySecondsText;
    QString noReplyMemo;
    // Fired rules re-arm by themselves once their condition has cleared for a while.
    bool reArm = false;
    QString reArmSecondsText = QStringLiteral("60");
    QString hysteresisText = QStringLiteral("1");    // degrees, decimals allowed
    QString remindMinutesText = QStringLiteral("0"); // 0: no reminders
    // A temperature or input rule fires once its condition has held this long on every reply.
    QString holdSecondsText = QStringLiteral("0");
};

// A plain decimal integer in the 32-bit range, optional sign, optional blanks around it.
std::optional<int> parseLimit(const QString& text);

// A correct reply came at `replyMs` (steady) and `readings` hold it: counts how long each
// temperature and input rule's condition has held, for the hold before firing.
void trackHold(AlertState& state, const DeviceReadings& readings, const AlertConfig& config,
               qint64 replyMs);

// One evaluation pass. Rebuilds MailBody, MailSubject and Shown; returns true when a mail is due.
// The temperature rules wait for the first correct reply of the run. `msSinceLastReply` runs from
// the last correct reply, or from start-up before the first.
// A bad limit text ends the pass there with no mail; a bad no-reply seconds text stops that rule
// only. Either fills `error` the first time the text is met, and stays quiet on later passes
// until the text changes.
bool runAlertPass(AlertState& state, const DeviceReadings& readings, const AlertConfig& config,
                  qint64 msSinceLastReply, QString* error = nullptr);

// What a fired rule says later: it re-armed, or its condition still holds.
enum class NoticeKind : std::uint8_t { Recovered, Reminder };
struct AlertNotice {
    NoticeKind kind;
    std::uint8_t rule; // one AlertRule bit
    QString subject;
    QString message; // on-screen, and the mail's body
};

// The rules whose condition holds on these readings (checked ones, valid texts only).
std::uint8_t holdingRules(const DeviceReadings& readings, const AlertConfig& config,
                          qint64 msSinceLastReply);

// What `rules` say when they fire, in the pass's order: the subject, the mail body of their
// memos, and each one's on-screen message.
struct FiredTexts {
    QString subject;
    QString mailBody;
    QStringList shown;
};
FiredTexts firedTexts(std::uint8_t rules, const AlertConfig& config);
// The rules' subject pieces, joined by ", ": "Over 30C, RB1 is \"H\"."
QString rulePieces(std::uint8_t rules, const AlertConfig& config);

// A person has seen the fired rules: returns those not acknowledged before.
std::uint8_t acknowledge(AlertState& state);

// Runs after runAlertPass on the same readings: re-arms fired rules whose condition has been
// clear (temperatures beyond the hysteresis) through ReArmSec seconds of correct replies, the
// no-reply rule at the first reply after it fired, and reminds of those still holding every
// RemindMin minutes, unless acknowledged. `nowMs` is the steady clock msSinceLastReply runs on. A
// bad text turns its feature off and fills `error` once, as runAlertPass does.
QList<AlertNotice> runFollowUpPass(AlertState& state, const DeviceReadings& readings,
                                   const AlertConfig& config, qint64 msSinceLastReply, qint64 nowMs,
                                   QString* error = nullptr);
