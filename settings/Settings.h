#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <array>

// Every setting of the program, held as a value and told as it changes: the dialog shows and
// edits it, everything else reads it here and listens to changed(). Each key's section, name,
// type and default live in one table (Settings.cpp); the memo texts and the mail password are
// held for this run only.
class IniFile;

class Settings : public QObject {
    Q_OBJECT
public:
    enum Key {
        // stored in the INI, in the order a new file gets them
        Left,
        Top,
        BoardAddress,
        BoardPort,
        ReadCycle,
        UpperLimit,
        LowerLimit,
        CheckUpper,
        CheckLower,
        Rb1,
        Rb0,
        Priority,
        MailServer,
        MailUser,
        MailFrom,
        MailTo,
        MailSecurity, // index into SettingsDefaults::MailSecurityKeys
        MailCaFile,
        NoReply,
        NoReplySec,
        Retry,
        Log,
        Notify,
        Metrics,
        ReArm,
        ReArmSec,
        RemindMin,
        HoldSec, // whole seconds a rule's condition must hold before it fires
        Hysteresis,
        PushNtfy,          // an ntfy topic URL
        PushWebhook,       // a URL taking a JSON POST
        PushTelegramToken, // a Telegram bot's token
        PushTelegramChat,  // the chat it posts to: an id, or "@channel"
        PushTelegramApi,   // the Bot API's address; empty: https://api.telegram.org
        TempOffset,        // degrees added to every reading, -20 to 20
        MailSubject,       // the user's own words (AlertWords); empty: the classic subject
        MailBody,          // the same for the body; "\n" is a line break
        MqttBroker,        // "mqtt://host:port" or "mqtts://host:port"; empty: no MQTT
        MqttUser,
        MqttCaFile,      // empty: the system's CAs
        MqttPrefix,      // Home Assistant's discovery prefix
        MqttNodeId,      // "zarvik_" and 8 hex digits, made once
        MqttCommands,    // buttons offered and obeyed
        WebListen,       // the status page's "host:port"; empty: no page
        WebUser,         // its login; empty: none
        WebPasswordHash, // a yescrypt hash (web/PasswordHash.h), never the password
        WebCertFile,     // PEM certificate; with WebKeyFile the page is served over HTTPS
        WebKeyFile,      // PEM private key
        UiLanguage,      // "ja", "en", or empty for the system's; taken at the next start
        // held for this run only, never stored
        MemoUpper,
        MemoLower,
        MemoRb1,
        MemoRb0,
        MemoNoReply,
        MailPassword,
        MqttPassword,
        KeyCount
    };
    Q_ENUM(Key)

    explicit Settings(QObject* parent = nullptr);

    QVariant value(Key key) const;
    QString text(Key key) const;
    bool flag(Key key) const;
    int number(Key key) const;
    // Emits changed(key) when the value differs from the one held. The value is taken as the
    // key's type; a choice out of range becomes -1 (none), a security index out of range 0.
    void setValue(Key key, const QVariant& value);
    // The value a key has before anything is loaded or set.
    static QVariant defaultValue(Key key);
    // Stored in the settings file (the others last for this run only).
    static bool isStored(Key key);

    // Reads every stored key; a missing or unreadable one takes its default, the others are left
    // as they are. Emits changed() for each key whose value changed. False when the file could
    // not be read cleanly; `problem` then says why.
    bool load(const QString& iniPath, QString* problem = nullptr);
    bool load(const IniFile& ini, QString* problem = nullptr);
    // The stored keys that `ini` holds, whatever their values.
    static QList<Key> keysIn(const IniFile& ini);
    // How a person finds a stored key in the file: "[Mail] Address", in section "Mail".
    static QString keyName(Key key);
    static QString sectionOf(Key key);
    // Writes every stored key into the file, keeping its other lines; keys that older files
    // lack only once they differ from their defaults or are in the file already. A file that
    // holds a secret (holdsSecret()) is readable by its owner only. On failure `error` says why
    // and the file is left as it was.
    bool save(const QString& iniPath, QString* error = nullptr) const;

    // The executable's path with its extension replaced by ".ini" (appended when there is none).
    static QString pathFor(const QString& executablePath);
    // Whether a stored value is a secret: a bot token, a webhook URL (its path often is one), or
    // the status page's password hash (it can be attacked offline).
    bool holdsSecret() const;

signals:
    void changed(Settings::Key key);

private:
    std::array<QVariant, KeyCount> m_values;
};
