#pragma once

// What a setting holds before the settings file is read, and what a missing key reads as.
namespace SettingsDefaults {

inline constexpr const char* BoardAddress = "192.168.1.200";
inline constexpr const char* BoardPort = "10001";
inline constexpr const char* ReadCycleMs = "5000";
inline constexpr const char* UpperLimit = "100";
inline constexpr const char* LowerLimit = "0";
inline constexpr int SensorChoice = 2; // do not send
inline constexpr int Priority = 2;     // Low
// Items of the sensor and priority choices; an index outside them means none chosen.
inline constexpr int ChoiceCount = 3;
inline constexpr const char* NoReplySeconds = "60";
inline constexpr const char* ReArmSeconds = "60";
inline constexpr const char* RemindMinutes = "0"; // no reminders
inline constexpr const char* HoldSeconds = "0";   // fire at once
inline constexpr const char* MqttPrefix = "homeassistant";
inline constexpr const char* Hysteresis = "1"; // degrees
inline constexpr const char* TempOffset = "0"; // degrees added to every reading
// The mail bodies of the rules; never stored, so every run starts with these.
inline constexpr const char* MemoUpper = "Message <Upper Temp>";
inline constexpr const char* MemoLower = "Message <Lower Temp>";
inline constexpr const char* MemoRb1 = "Message <Change RB1>\r\n";
inline constexpr const char* MemoRb0 = "Message <Change RB0>";
inline constexpr const char* MemoNoReply = "Message <No Reply>";
// How mail is secured, by the item index of its combo box; the first is the default.
inline constexpr const char* MailSecurityKeys[] = {"auto", "starttls", "tls", "none"};

// The longest text an edit stores: with every stored edit this full, in two-byte characters,
// the file stays well within the size it is read back at (1 MiB).
inline constexpr int MaxStoredTextLength = 32767;

} // namespace SettingsDefaults
