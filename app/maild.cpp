#include "app/ProcessStart.h"
#include "app/Service.h"
#include "app/ServiceLog.h"
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
    parser.addOptions({settingsOption, stateOption});
    parser.process(app);

    const SettingsLocation where = SettingsLocation::forService(
        parser.isSet(settingsOption) ? parser.value(settingsOption)
                                     : QDir(QCoreApplication::applicationDirPath())
                                           .filePath(QStringLiteral("ZARVIK_Mail.ini")),
        parser.value(stateOption));
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
