#include "app/MuteCommand.h"
#include "app/ProcessStart.h"
#include "app/Service.h"
#include "app/ServiceLog.h"
#include "app/WebPasswordCommand.h"
#include "i18n/UiLanguage.h"
#include "settings/SettingsLocation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("ZARVIK Mail's watching without a window: polls the board, mails alerts."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("The settings file (default: ZARVIK_Mail.ini beside this program)."),
        QStringLiteral("FILE"));
    const QCommandLineOption stateOption(
        QStringLiteral("state"),
        QStringLiteral(
            "Where the outbox and the CSV log go (default: the settings file's folder)."),
        QStringLiteral("DIR"));
    const QCommandLineOption muteOption(
        QStringLiteral("mute"),
        QStringLiteral("Tells the running service to send no alert for a while: 30m, 1h, 4h, "
                       "2d, \"until 14:30\", or off to end it. Rules still run and are logged; "
                       "what still holds at the end is sent then."),
        QStringLiteral("WHEN"));
    const QCommandLineOption webPasswordOption(
        QStringLiteral("web-password"),
        QStringLiteral("Sets the status page's password, read from standard input."));
    parser.addOptions({settingsOption, stateOption, muteOption, webPasswordOption});
    parser.process(app);

    const SettingsLocation where = SettingsLocation::forService(
        parser.isSet(settingsOption) ? parser.value(settingsOption)
                                     : QDir(QCoreApplication::applicationDirPath())
                                           .filePath(QStringLiteral("ZARVIK_Mail.ini")),
        parser.value(stateOption));
    if (parser.isSet(muteOption)) {
        // "--mute until 14:30" comes as two words.
        const QStringList words =
            QStringList{parser.value(muteOption)} + parser.positionalArguments();
        return MuteCommand::run(where.settingsPath, parser.value(stateOption), words.join(u' '));
    }
    if (parser.isSet(webPasswordOption))
        return WebPasswordCommand::run(where.settingsPath);
    UiLanguage::install(app, UiLanguage::choose(UiLanguage::fromSettingsFile(where.settingsPath)));
    const ProcessStart start(where, [](const QString& why) {
        ServiceLog::write(ServiceLog::Priority::Warning, why); // runs on with what it has
    });
    if (!start.mayRun()) {
        start.lock().reportRefusal();
        return 1;
    }
    start.lock().reportNote();
    Service service(where);
    QString why;
    if (!service.start(&why)) {
        ServiceLog::write(ServiceLog::Priority::Error, why);
        return 1;
    }
    QObject::connect(&service, &Service::finished, &app, &QCoreApplication::exit);
    return app.exec();
}
