#include "i18n/UiLanguage.h"

#include "settings/IniFile.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace UiLanguage {

QString choose(const QString& setting, const QLocale& system)
{
    const QString wanted = setting.trimmed().toLower();
    if (wanted == QLatin1String("ja") || wanted == QLatin1String("en"))
        return wanted;
    return system.language() == QLocale::Japanese ? QStringLiteral("ja") : QStringLiteral("en");
}

QString fromSettingsFile(const QString& path)
{
    const IniFile ini(path);
    return ini.readString(QStringLiteral("Ui"), QStringLiteral("Language"), QString());
}

bool install(QCoreApplication& app, const QString& language)
{
    bool complete = true;
    // Qt's own texts (buttons of its boxes, the file dialog).
    auto* qt = new QTranslator(&app);
    if (qt->load(QLocale(language), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(qt);
    else if (language != QLatin1String("en")) // Qt's source is English
        complete = false;
    if (language == QLatin1String("ja"))
        return complete;
    // The program's own, built into it.
    auto* own = new QTranslator(&app);
    if (own->load(QStringLiteral(":/i18n/zarvik-mail_%1.qm").arg(language)))
        app.installTranslator(own);
    else
        complete = false;
    return complete;
}

} // namespace UiLanguage
