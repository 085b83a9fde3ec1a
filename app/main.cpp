#include "app/ProcessStart.h"
#include "app/UnixSignals.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/OwnMessageBox.h"
#include "gui/Shell.h"
#include "gui/ZarvikApplication.h"
#include "i18n/UiLanguage.h"
#include "settings/SettingsLocation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <csignal>
#include <cstdio>

namespace {

const QCommandLineOption SettingsOption(
    QStringLiteral("settings"),
    QStringLiteral("The settings file (default: ZARVIK_Mail.ini beside this program when its "
                   "folder is writable, else in $XDG_CONFIG_HOME/zarvik-mail/)."),
    QStringLiteral("FILE"));
const QCommandLineOption
    PrintOption(QStringLiteral("print-settings-path"),
                QStringLiteral("Print the settings file this program would use, and end."));

SettingsLocation locate(const QCommandLineParser& parser)
{
    return parser.isSet(SettingsOption)
               ? SettingsLocation::forFile(parser.value(SettingsOption))
               : SettingsLocation::forExecutable(QCoreApplication::applicationFilePath());
}

} // namespace

int main(int argc, char* argv[])
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Watches a ZARVIK sensor board and mails alerts."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({SettingsOption, PrintOption});
    // A first look before the window's application object, which needs a display: printing the
    // path must not. Qt's own options (-platform …) are unknown here and left to the second look.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    parser.parse(arguments);
    // Nor must the usage and the version (both end the program).
    const bool help = parser.isSet(QStringLiteral("help"));
    if (help || parser.isSet(QStringLiteral("version"))) {
        const QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
        if (help)
            parser.showHelp(0);
        parser.showVersion();
    }
    if (parser.isSet(PrintOption)) {
        const QCoreApplication core(argc, argv);
        std::printf("%s\n", locate(parser).settingsPath.toLocal8Bit().constData());
        return 0;
    }

    ZarvikApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    parser.process(app);
    const SettingsLocation where = locate(parser);
    // Before any window: every text is read in this language from the start.
    UiLanguage::install(app, UiLanguage::choose(UiLanguage::fromSettingsFile(where.settingsPath)));
    const ProcessStart start(
        where, [](const QString& why) { std::fprintf(stderr, "%s\n", qPrintable(why)); });
    const InstanceLock& lock = start.lock();
    if (!start.mayRun()) {
        const QString refusal = lock.reportRefusal();
        OwnMessageBox::show(lock.heldElsewhere() ? QMessageBox::Information : QMessageBox::Critical,
                            QStringLiteral("ZARVIK Mail"), refusal);
        return 1;
    }
    // The program ends once closing has saved what it must, not when the window goes.
    app.setQuitOnLastWindowClosed(false);
    Shell shell(where);
    QObject::connect(&shell, &Shell::finished, &app, &QCoreApplication::exit);
    // A logout or a kill closes the window the normal way, so the settings are saved.
    const UnixSignals unixSignals({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&unixSignals, &UnixSignals::received, shell.FormZARVIK_Mail(),
                     &TFormZARVIK_Mail::closeBySignal);
    shell.show();
    const QString note = lock.reportNote();
    if (!note.isEmpty())
        shell.FormZARVIK_Mail()->setLastingNote(QStringLiteral("lock"), note); // for the whole run
    return app.exec();
}
