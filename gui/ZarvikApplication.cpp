#include "gui/ZarvikApplication.h"

#include "gui/ErrorReport.h"

ZarvikApplication::ZarvikApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool ZarvikApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ErrorReport::showCurrent();
        return false;
    }
}
