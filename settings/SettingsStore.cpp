#include "settings/SettingsStore.h"

#include "settings/IniFile.h"
#include "settings/RadioGroup.h"
#include "settings/SettingsDefaults.h"
#include "settings/ToolSettingDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <algorithm>
#include <variant>

namespace {

struct TextField {
    QLineEdit* TToolSettingDlg::*edit;
    const char* def;
};
struct BoolField {
    QCheckBox* TToolSettingDlg::*box;
    bool def;
};
struct IndexField {
    RadioGroup* TToolSettingDlg::*group;
    int def;
};

struct Field {
    const char* section;
    const char* key;
    std::variant<TextField, BoolField, IndexField> control;
};

template <typename... Ts> struct Overloaded : Ts... {
    using Ts::operator()...;
};
// Clang before 17 does not deduce aggregate template arguments by itself.
template <typename... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

const char* const LocationSection = "Location";
const char* const BoardSection = "ZARVIK";
const char* const MailSection = "Mail";
const char* const WatchSection = "Watch";

// The order in which a new file gets its keys, after the window position.
const Field Fields[] = {
    {BoardSection, "Address",
     TextField{&TToolSettingDlg::EdtPicAddr, SettingsDefaults::BoardAddress}},
    {BoardSection, "Port", TextField{&TToolSettingDlg::EdtPicPort, SettingsDefaults::BoardPort}},
    {BoardSection, "Cycle", TextField{&TToolSettingDlg::EdtRdCycle, SettingsDefaults::ReadCycleMs}},
    {"Temp", "UTemp", TextField{&TToolSettingDlg::EditUTemp, SettingsDefaults::UpperLimit}},
    {"Temp", "LTemp", TextField{&TToolSettingDlg::EditLTemp, SettingsDefaults::LowerLimit}},
    {"Temp", "Check_U", BoolField{&TToolSettingDlg::ChkBoxUTemp, false}},
    {"Temp", "Check_L", BoolField{&TToolSettingDlg::ChkBoxLTemp, false}},
    {"Sensor", "RB1", IndexField{&TToolSettingDlg::RGrpRB1, SettingsDefaults::SensorChoice}},
    {"Sensor", "RB0", IndexField{&TToolSettingDlg::RGrpRB0, SettingsDefaults::SensorChoice}},
    {MailSection, "Priority", IndexField{&TToolSettingDlg::RGrpPrty, SettingsDefaults::Priority}},
    {MailSection, "Address", TextField{&TToolSettingDlg::EdtMailSrv, ""}},
    {MailSection, "User", TextField{&TToolSettingDlg::EdtMailId, ""}},
    {MailSection, "From", TextField{&TToolSettingDlg::EdtMailFrom, ""}},
    {MailSection, "To", TextField{&TToolSettingDlg::EdtMailTo, ""}},
};

QString str(const char* latin1)
{
    return QString::fromLatin1(latin1);
}

int securityIndex(const QString& key)
{
    const auto& keys = SettingsDefaults::MailSecurityKeys;
    for (int i = 0; i < int(std::size(keys)); ++i) {
        if (key.trimmed().compare(str(keys[i]), Qt::CaseInsensitive) == 0)
            return i;
    }
    return 0;
}

// Keys that older files lack: written only when they differ from their defaults or
// are in the file already, so an untouched file keeps its bytes.
void writeNewKey(IniFile& ini, const char* section, const char* key, const QString& value,
                 const QString& def)
{
    if (value != def || ini.contains(str(section), str(key)))
        ini.writeString(str(section), str(key), value);
}

QString boolText(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

namespace SettingsStore {

QString settingsPathFor(const QString& executablePath)
{
    // Either separator may appear in a path handed over from a Windows file system.
    const qsizetype nameStart = std::max(executablePath.lastIndexOf(QLatin1Char('/')),
                                         executablePath.lastIndexOf(QLatin1Char('\\'))) +
                                1;
    const qsizetype dot = executablePath.lastIndexOf(QLatin1Char('.'));
    const qsizetype stemLength = dot >= nameStart ? dot : executablePath.size();
    return executablePath.left(stemLength) + QStringLiteral(".ini");
}

StartupSettings loadStartup(const QString& iniPath)
{
    const IniFile ini(iniPath);
    return {{ini.readInteger(str(LocationSection), QStringLiteral("Left"), 0),
             ini.readInteger(str(LocationSection), QStringLiteral("Top"), 0)},
            ini.readString(str(BoardSection), QStringLiteral("Address"),
                           str(SettingsDefaults::BoardAddress)),
            ini.readString(str(BoardSection), QStringLiteral("Port"),
                           str(SettingsDefaults::BoardPort))};
}

bool loadSettings(const QString& iniPath, TToolSettingDlg& dlg, QString* problem)
{
    const IniFile ini(iniPath);
    for (const Field& field : Fields) {
        const QString section = str(field.section);
        const QString key = str(field.key);
        std::visit(Overloaded{
                       [&](const TextField& f) {
                           (dlg.*f.edit)->setText(ini.readString(section, key, str(f.def)));
                       },
                       [&](const BoolField& f) {
                           (dlg.*f.box)->setChecked(ini.readBool(section, key, f.def));
                       },
                       [&](const IndexField& f) {
                           (dlg.*f.group)->setItemIndex(ini.readInteger(section, key, f.def));
                       },
                   },
                   field.control);
    }
    dlg.CmbMailSec->setCurrentIndex(
        securityIndex(ini.readString(str(MailSection), QStringLiteral("Security"), {})));
    dlg.MailCaFile = ini.readString(str(MailSection), QStringLiteral("CAFile"), {});
    dlg.ChkBoxNoReply->setChecked(
        ini.readBool(str(WatchSection), QStringLiteral("NoReply"), false));
    dlg.EditNoReplySec->setText(ini.readString(str(WatchSection), QStringLiteral("NoReplySec"),
                                               str(SettingsDefaults::NoReplySeconds)));
    dlg.ChkBoxRetry->setChecked(ini.readBool(str(WatchSection), QStringLiteral("Retry"), false));
    dlg.ChkBoxLog->setChecked(ini.readBool(str(WatchSection), QStringLiteral("Log"), false));
    dlg.ChkBoxNotify->setChecked(ini.readBool(str(WatchSection), QStringLiteral("Notify"), false));
    dlg.EdtMetrics->setText(ini.readString(str(WatchSection), QStringLiteral("Metrics"), {}));
    if (problem)
        *problem = ini.readProblem();
    return ini.readProblem().isEmpty();
}

bool saveAll(const QString& iniPath, QPoint windowPos, const TToolSettingDlg& dlg, QString* error)
{
    IniFile ini(iniPath);
    ini.writeInteger(str(LocationSection), QStringLiteral("Left"), windowPos.x());
    ini.writeInteger(str(LocationSection), QStringLiteral("Top"), windowPos.y());
    for (const Field& field : Fields) {
        const QString section = str(field.section);
        const QString key = str(field.key);
        std::visit(
            Overloaded{
                [&](const TextField& f) { ini.writeString(section, key, (dlg.*f.edit)->text()); },
                [&](const BoolField& f) { ini.writeBool(section, key, (dlg.*f.box)->isChecked()); },
                [&](const IndexField& f) {
                    ini.writeInteger(section, key, (dlg.*f.group)->itemIndex());
                },
            },
            field.control);
    }
    const int security = std::max(0, dlg.CmbMailSec->currentIndex());
    writeNewKey(ini, MailSection, "Security", str(SettingsDefaults::MailSecurityKeys[security]),
                str(SettingsDefaults::MailSecurityKeys[0]));
    writeNewKey(ini, MailSection, "CAFile", dlg.MailCaFile, {});
    writeNewKey(ini, WatchSection, "NoReply", boolText(dlg.ChkBoxNoReply->isChecked()),
                boolText(false));
    writeNewKey(ini, WatchSection, "NoReplySec", dlg.EditNoReplySec->text(),
                str(SettingsDefaults::NoReplySeconds));
    writeNewKey(ini, WatchSection, "Retry", boolText(dlg.ChkBoxRetry->isChecked()),
                boolText(false));
    writeNewKey(ini, WatchSection, "Log", boolText(dlg.ChkBoxLog->isChecked()), boolText(false));
    writeNewKey(ini, WatchSection, "Notify", boolText(dlg.ChkBoxNotify->isChecked()),
                boolText(false));
    writeNewKey(ini, WatchSection, "Metrics", dlg.EdtMetrics->text(), {});
    return ini.save(error);
}

} // namespace SettingsStore
