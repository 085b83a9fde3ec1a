#include "app/Shell.h"
#include "app/ZarvikApplication.h"

int main(int argc, char* argv[])
{
    ZarvikApplication app(argc, argv);
    Shell shell(Shell::defaultSettingsPath());
    shell.show();
    return app.exec();
}
