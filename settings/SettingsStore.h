#pragma once

#include <QPoint>
#include <QString>

class TToolSettingDlg;

// Loads and saves the settings file into the settings dialog's controls. Every call opens the
// file, does its work and lets it go; nothing is cached between calls. The memo texts are not
// stored.
namespace SettingsStore {

// The executable's path with its extension replaced by ".ini" (appended when there is none).
QString settingsPathFor(const QString& executablePath);

// What the main window needs before the settings dialog exists: its saved top-left corner
// (Location/Left, Location/Top; 0 when absent) and the board to send the first request to.
struct StartupSettings {
    QPoint position;
    QString boardAddress;
    QString boardPort;
};
StartupSettings loadStartup(const QString& iniPath);

// Reads every stored setting into the dialog's controls. A radio index out of range selects
// nothing. Returns false when the file could not be read cleanly; `problem` then says why.
bool loadSettings(const QString& iniPath, TToolSettingDlg& dlg, QString* problem = nullptr);

// Writes the window position and every stored setting, then saves the file. On failure
// `error` says why.
bool saveAll(const QString& iniPath, QPoint windowPos, const TToolSettingDlg& dlg,
             QString* error = nullptr);

} // namespace SettingsStore
