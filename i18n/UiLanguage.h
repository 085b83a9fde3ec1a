#pragma once

#include <QLocale>
#include <QString>

class QCoreApplication;

// The language a person reads the program in, window and service alike: `[Ui] Language` when it
// names one the program speaks ("ja", "en"), else the system's: Japanese for a Japanese locale,
// English for every other. Japanese is the source of every text, so it needs no translation of
// the program's own; Qt's own dialogs are translated either way.
namespace UiLanguage {

// "ja" or "en".
QString choose(const QString& setting, const QLocale& system = QLocale::system());
// [Ui] Language as the settings file at `path` has it; empty when it has none or cannot be read
// (never waits on a FIFO: the file is read as the settings are).
QString fromSettingsFile(const QString& path);
// Installs the translators for `language` on the application; false when one is missing (the
// program then speaks Japanese, its source).
bool install(QCoreApplication& app, const QString& language);

} // namespace UiLanguage
