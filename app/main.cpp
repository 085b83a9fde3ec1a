#include "app/FormZARVIK_Mail.h"
#include "app/InstanceLock.h"
#include "app/OpenFileLimit.h"
#include "app/Shell.h"
#include "app/ZarvikApplication.h"

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
        lock.reportRefusal();
        return 1;
    }
    Shell shell(settingsPath);
    shell.show();
    lock.reportNote(*shell.FormZARVIK_Mail());
    const int status = app.exec();
    return status != 0 ? status : shell.FormZARVIK_Mail()->exitStatus();
}
