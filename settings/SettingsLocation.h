#pragma once

#include <QString>

// Where the program keeps its settings file, and where the CSV log and the outbox go.
struct SettingsLocation {
    QString settingsPath; // read at start-up, written at close; the lock lies beside it
    QString seedPath;     // read instead while settingsPath does not exist; empty: none
    QString statePath;    // the CSV log and the outbox lie beside it, named after it

    // Beside the executable when its folder is writable and not the system's (/usr, /bin, /etc…),
    // as a copy in a folder of its own always had it. Otherwise (an install under /usr or another
    // root-owned prefix) the user's XDG folders:
    // $XDG_CONFIG_HOME/zarvik-mail/ZARVIK_Mail.ini, started from the first
    // zarvik-mail/ZARVIK_Mail.ini in $XDG_CONFIG_DIRS, the log and outbox in
    // $XDG_STATE_HOME/zarvik-mail/.
    static SettingsLocation forExecutable(const QString& executablePath);
    // A file the user named: everything beside it.
    static SettingsLocation forFile(const QString& path);
    // The service's: `path`, and the state in `stateFolder` (beside the file when empty) under
    // the file's name.
    static SettingsLocation forService(const QString& path, const QString& stateFolder);

    // The file to read at start-up.
    QString readPath() const;
    // Makes the folders of the settings file and of the state (0700, as they hold addresses);
    // false with the reason.
    bool makeFolders(QString* error) const;
};
