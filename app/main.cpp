#include "app/InstanceLock.h"
#include "app/OpenFileLimit.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/OwnMessageBox.h"
#include "gui/Shell.h"
#include "gui/ZarvikApplication.h"

#include <QString>
#include <cstdio>

int main(int argc, char* argv[])
{
    QString why;
    if (!raiseOpenFileLimit(&why))
        std::fprintf(stderr, "%s\n", qPrintable(why)); // the program runs on with what it has
    ZarvikApplication app(argc, argv);
    const QString settingsPath = Shell::defaultSettingsPath();
    const InstanceLock lock(settingsPath);
    if (!lock.acquired()) {
        const QString refusal = lock.reportRefusal();
        OwnMessageBox::show(lock.heldElsewhere() ? QMessageBox::Information : QMessageBox::Critical,
                            QStringLiteral("ZARVIK Mail"), refusal);
        return 1;
    }
    // The program ends once closing has saved what it must, not when the window goes.
    app.setQuitOnLastWindowClosed(false);
    Shell shell(settingsPath);
    QObject::connect(&shell, &Shell::finished, &app, &QCoreApplication::exit);
    shell.show();
    const QString note = lock.reportNote();
    if (!note.isEmpty())
        shell.FormZARVIK_Mail()->setLastingNote(QStringLiteral("lock"), note); // for the whole run
    return app.exec();
}
