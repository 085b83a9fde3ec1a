#pragma once

#include "device/DeviceReadings.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>

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
    // The last bad limit text reported for each edit, so one mistake is reported once, not on
    // every pass (a pass follows every burst of events, including closing the report itself).
    std::optional<QString> reportedBadUpper;
    std::optional<QString> reportedBadLower;
    std::optional<QString> reportedBadNoReply;
};

enum PendingEdge : std::uint8_t { Rb1Fall = 1, Rb1Rise = 2, Rb0Fall = 4, Rb0Rise = 8 };

// A reply is about to replace `readings`: keeps the edges they show when no pass has seen them.
void noteNewReply(AlertState& state, const DeviceReadings& readings);

// Arms all seven rules.
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

// Radio index meaning for the input rules.
enum InputRuleChoice { SendOnHigh = 0, SendOnLow = 1, DoNotSend = 2 };

// The live configuration, read at the moment each step needs it.
class AlertConfig {
public:
    virtual ~AlertConfig() = default;
    virtual bool upperChecked() const = 0;
    virtual QString upperLimitText() const = 0;
    virtual QString upperMemo() const = 0;
    virtual bool lowerChecked() const = 0;
    virtual QString lowerLimitText() const = 0;
    virtual QString lowerMemo() const = 0;
    virtual int rb1Choice() const = 0;
    virtual QString rb1Memo() const = 0;
    virtual int rb0Choice() const = 0;
    virtual QString rb0Memo() const = 0;
    virtual bool noReplyChecked() const = 0;
    virtual QString noReplySecondsText() const = 0;
    virtual QString noReplyMemo() const = 0;
    // Since the last correct reply, or since start-up before the first; a monotonic clock.
    virtual qint64 msSinceLastReply() const = 0;
    // The on-screen message of the last rule that fired.
    virtual void showMessage(const QString& message) = 0;
};

// A limit text that is not an integer; the message names the text.
class LimitError : public std::runtime_error {
public:
    explicit LimitError(const QString& text);
};

// A plain decimal integer in the 32-bit range, optional sign, optional blanks around it.
std::optional<int> parseLimit(const QString& text);

// A seconds text that is not a positive integer; the message names the text.
class SecondsError : public std::runtime_error {
public:
    explicit SecondsError(const QString& text);
};

// One evaluation pass. Rebuilds MailBody and MailSubject; returns true when a mail is due.
// The temperature rules wait for the first correct reply of the run.
// A bad limit text ends the pass there with no mail: it throws LimitError the first time that
// text is met, and returns false quietly on later passes until the text changes.
// A bad no-reply seconds text stops that rule only: `badSeconds` gets the text the first time
// it is met, for the caller to report once the mail is out.
bool runAlertPass(AlertState& state, const DeviceReadings& readings, AlertConfig& config,
                  std::optional<QString>* badSeconds = nullptr);
