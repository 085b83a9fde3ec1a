#include "app/FormZARVIK_Mail.h"
#include "app/InstanceLock.h"
#include "app/Shell.h"
#include "app/ZarvikApplication.h"

int main(int argc, char* argv[])
{
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
