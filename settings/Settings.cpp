#include "settings/Settings.h"

#include "core/AtomicFile.h"
#include "settings/IniFile.h"
#include "settings/SettingsDefaults.h"

#include <algorithm>

namespace {

namespace D = SettingsDefaults;

enum class Type {
    Integer,  // any whole number
    Text,     // stored as typed
    Flag,     // stored as 1 or 0; any other whole number reads as true
    Choice,   // a radio index, -1 for none
    Security, // an index into MailSecurityKeys, stored as its text
};

struct Entry {
    Settings::Key key;
    const char* section; // nullptr: held for this run only
    const char* name;
    Type type;
    const char* text; // the default of a text, UTF-8
    int number;       // the default of any other type
    // A key older files lack: written only when it differs from its default or is in the file
    // already, so an untouched file keeps its bytes and still loads in an older copy.
    bool added = false;
};

using S = Settings;
constexpr Entry Table[] = {
    {S::Left, "Location", "Left", Type::Integer, nullptr, 0},
    {S::Top, "Location", "Top", Type::Integer, nullptr, 0},
    {S::BoardAddress, "ZARVIK", "Address", Type::Text, D::BoardAddress, 0},
    {S::BoardPort, "ZARVIK", "Port", Type::Text, D::BoardPort, 0},
    {S::ReadCycle, "ZARVIK", "Cycle", Type::Text, D::ReadCycleMs, 0},
    {S::UpperLimit, "Temp", "UTemp", Type::Text, D::UpperLimit, 0},
    {S::LowerLimit, "Temp", "LTemp", Type::Text, D::LowerLimit, 0},
    {S::CheckUpper, "Temp", "Check_U", Type::Flag, nullptr, 0},
    {S::CheckLower, "Temp", "Check_L", Type::Flag, nullptr, 0},
    {S::Rb1, "Sensor", "RB1", Type::Choice, nullptr, D::SensorChoice},
    {S::Rb0, "Sensor", "RB0", Type::Choice, nullptr, D::SensorChoice},
    {S::Priority, "Mail", "Priority", Type::Choice, nullptr, D::Priority},
    {S::MailServer, "Mail", "Address", Type::Text, "", 0},
    {S::MailUser, "Mail", "User", Type::Text, "", 0},
    {S::MailFrom, "Mail", "From", Type::Text, "", 0},
    {S::MailTo, "Mail", "To", Type::Text, "", 0},
    {S::MailSecurity, "Mail", "Security", Type::Security, nullptr, 0, true},
    {S::MailCaFile, "Mail", "CAFile", Type::Text, "", 0, true},
    {S::NoReply, "Watch", "NoReply", Type::Flag, nullptr, 0, true},
    {S::NoReplySec, "Watch", "NoReplySec", Type::Text, D::NoReplySeconds, 0, true},
    {S::Retry, "Watch", "Retry", Type::Flag, nullptr, 0, true},
    {S::Log, "Watch", "Log", Type::Flag, nullptr, 0, true},
    {S::Notify, "Watch", "Notify", Type::Flag, nullptr, 0, true},
    {S::Metrics, "Watch", "Metrics", Type::Text, "", 0, true},
    {S::ReArm, "Watch", "ReArm", Type::Flag, nullptr, 0, true},
    {S::ReArmSec, "Watch", "ReArmSec", Type::Text, D::ReArmSeconds, 0, true},
    {S::RemindMin, "Watch", "RemindMin", Type::Text, D::RemindMinutes, 0, true},
    {S::HoldSec, "Watch", "HoldSec", Type::Text, D::HoldSeconds, 0, true},
    // After the classic keys of [Temp], wherever that section lies.
    {S::Hysteresis, "Temp", "Hysteresis", Type::Text, D::Hysteresis, 0, true},
    {S::PushNtfy, "Push", "Ntfy", Type::Text, "", 0, true},
    {S::PushWebhook, "Push", "Webhook", Type::Text, "", 0, true},
    {S::PushTelegramToken, "Push", "TelegramToken", Type::Text, "", 0, true},
    {S::PushTelegramChat, "Push", "TelegramChat", Type::Text, "", 0, true},
    {S::PushTelegramApi, "Push", "TelegramApi", Type::Text, "", 0, true},
    // After the keys of their sections, as Hysteresis.
    {S::TempOffset, "Temp", "Offset", Type::Text, D::TempOffset, 0, true},
    {S::MailSubject, "Mail", "Subject", Type::Text, "", 0, true},
    {S::MailBody, "Mail", "Body", Type::Text, "", 0, true},
    {S::MqttBroker, "Mqtt", "Broker", Type::Text, "", 0, true},
    {S::MqttUser, "Mqtt", "User", Type::Text, "", 0, true},
    {S::MqttCaFile, "Mqtt", "CAFile", Type::Text, "", 0, true},
    {S::MqttPrefix, "Mqtt", "Prefix", Type::Text, D::MqttPrefix, 0, true},
    {S::MqttNodeId, "Mqtt", "NodeId", Type::Text, "", 0, true},
    {S::MqttCommands, "Mqtt", "Commands", Type::Flag, nullptr, 0, true},
    {S::WebListen, "Web", "Listen", Type::Text, "", 0, true},
    {S::WebUser, "Web", "User", Type::Text, "", 0, true},
    {S::WebPasswordHash, "Web", "PasswordHash", Type::Text, "", 0, true},
    {S::WebCertFile, "Web", "CertFile", Type::Text, "", 0, true},
    {S::WebKeyFile, "Web", "KeyFile", Type::Text, "", 0, true},
    {S::UiLanguage, "Ui", "Language", Type::Text, "", 0, true},
    {S::MemoUpper, nullptr, nullptr, Type::Text, D::MemoUpper, 0},
    {S::MemoLower, nullptr, nullptr, Type::Text, D::MemoLower, 0},
    {S::MemoRb1, nullptr, nullptr, Type::Text, D::MemoRb1, 0},
    {S::MemoRb0, nullptr, nullptr, Type::Text, D::MemoRb0, 0},
    {S::MemoNoReply, nullptr, nullptr, Type::Text, D::MemoNoReply, 0},
    {S::MailPassword, nullptr, nullptr, Type::Text, "", 0},
    {S::MqttPassword, nullptr, nullptr, Type::Text, "", 0},
};

constexpr bool tableFollowsKeys()
{
    if (std::size(Table) != S::KeyCount)
        return false;
    for (int i = 0; i < S::KeyCount; ++i) {
        if (Table[i].key != i)
            return false;
    }
    return true;
}
static_assert(tableFollowsKeys(), "one row per key, in the order of Settings::Key");

const Entry& entry(S::Key key)
{
    return Table[key];
}

QString str(const char* latin1)
{
    return QString::fromLatin1(latin1);
}

int securityIndex(const QString& text)
{
    const auto& keys = D::MailSecurityKeys;
    for (int i = 0; i < int(std::size(keys)); ++i) {
        if (text.trimmed().compare(str(keys[i]), Qt::CaseInsensitive) == 0)
            return i;
    }
    return 0;
}

QVariant typed(const Entry& e, const QVariant& value)
{
    switch (e.type) {
    case Type::Text:
        return value.toString();
    case Type::Flag:
        return value.toBool();
    case Type::Integer:
        return value.toInt();
    case Type::Choice: {
        const int index = value.toInt();
        return index >= 0 && index < D::ChoiceCount ? index : -1;
    }
    case Type::Security: {
        const int index = value.toInt();
        return index >= 0 && index < int(std::size(D::MailSecurityKeys)) ? index : 0;
    }
    }
    return {};
}

QVariant read(const IniFile& ini, const Entry& e)
{
    const QString section = str(e.section);
    const QString name = str(e.name);
    switch (e.type) {
    case Type::Text:
        return ini.readString(section, name, QString::fromUtf8(e.text));
    case Type::Flag:
        return ini.readBool(section, name, e.number != 0);
    case Type::Integer:
    case Type::Choice:
        return typed(e, ini.readInteger(section, name, e.number));
    case Type::Security:
        return securityIndex(ini.readString(section, name, {}));
    }
    return {};
}

// The value as the file holds it.
QString fileText(const Entry& e, const QVariant& value)
{
    switch (e.type) {
    case Type::Text:
        return value.toString();
    case Type::Flag:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case Type::Integer:
    case Type::Choice:
        return QString::number(value.toInt());
    case Type::Security:
        return str(D::MailSecurityKeys[typed(e, value).toInt()]);
    }
    return {};
}

} // namespace

Settings::Settings(QObject* parent)
    : QObject(parent)
{
    for (int i = 0; i < KeyCount; ++i)
        m_values[i] = defaultValue(Key(i));
}

QVariant Settings::defaultValue(Key key)
{
    const Entry& e = entry(key);
    return e.type == Type::Text ? QVariant(QString::fromUtf8(e.text)) : typed(e, e.number);
}

bool Settings::isStored(Key key)
{
    return entry(key).section != nullptr;
}

QVariant Settings::value(Key key) const
{
    return m_values[key];
}

QString Settings::text(Key key) const
{
    return m_values[key].toString();
}

bool Settings::flag(Key key) const
{
    return m_values[key].toBool();
}

int Settings::number(Key key) const
{
    return m_values[key].toInt();
}

void Settings::setValue(Key key, const QVariant& value)
{
    QVariant v = typed(entry(key), value);
    if (v == m_values[key])
        return;
    m_values[key] = std::move(v);
    emit changed(key);
}

bool Settings::load(const QString& iniPath, QString* problem)
{
    return load(IniFile(iniPath), problem);
}

bool Settings::load(const IniFile& ini, QString* problem)
{
    for (const Entry& e : Table) {
        if (e.section)
            setValue(e.key, read(ini, e));
    }
    if (problem)
        *problem = ini.readProblem();
    return ini.readProblem().isEmpty();
}

QList<Settings::Key> Settings::keysIn(const IniFile& ini)
{
    QList<Key> keys;
    for (const Entry& e : Table) {
        if (e.section && ini.contains(str(e.section), str(e.name)))
            keys.append(e.key);
    }
    return keys;
}

QString Settings::keyName(Key key)
{
    const Entry& e = entry(key);
    return e.section ? QStringLiteral("[%1] %2").arg(str(e.section), str(e.name)) : QString();
}

QString Settings::sectionOf(Key key)
{
    return entry(key).section ? str(entry(key).section) : QString();
}

bool Settings::save(const QString& iniPath, QString* error) const
{
    IniFile ini(iniPath);
    for (const Entry& e : Table) {
        if (!e.section)
            continue;
        const QString section = str(e.section);
        const QString name = str(e.name);
        const QString text = fileText(e, m_values[e.key]);
        if (!e.added || text != fileText(e, defaultValue(e.key)) || ini.contains(section, name))
            ini.writeString(section, name, text);
    }
    return ini.save(error,
                    holdsSecret() ? AtomicFile::Access::OwnerOnly : AtomicFile::Access::AsBefore);
}

bool Settings::holdsSecret() const
{
    return !text(PushTelegramToken).trimmed().isEmpty() || !text(PushWebhook).trimmed().isEmpty() ||
           !text(WebPasswordHash).trimmed().isEmpty();
}

QString Settings::pathFor(const QString& executablePath)
{
    // Either separator may appear in a path handed over from a Windows file system.
    const qsizetype nameStart = std::max(executablePath.lastIndexOf(QLatin1Char('/')),
                                         executablePath.lastIndexOf(QLatin1Char('\\'))) +
                                1;
    const qsizetype dot = executablePath.lastIndexOf(QLatin1Char('.'));
    const qsizetype stemLength = dot >= nameStart ? dot : executablePath.size();
    return executablePath.left(stemLength) + QStringLiteral(".ini");
}
