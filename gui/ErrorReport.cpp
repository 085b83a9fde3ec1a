#include "gui/ErrorReport.h"

#include "gui/OwnMessageBox.h"

#include <QCoreApplication>

namespace ErrorReport {

void show(const QString& message)
{
    OwnMessageBox::show(QMessageBox::Critical, QCoreApplication::applicationName(), message);
}

void showCurrent()
{
    try {
        throw;
    } catch (const std::exception& e) {
        show(QString::fromUtf8(e.what()));
    } catch (...) {
        show(QCoreApplication::translate("ErrorReport", "Unknown error"));
    }
}

} // namespace ErrorReport
