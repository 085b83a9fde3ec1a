#include "gui/OwnMessageBox.h"

#include "core/IdlePass.h"

namespace OwnMessageBox {

int exec(QMessageBox& box)
{
    IdlePass::Suspension noPasses;
    return box.exec();
}

void show(QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("OwnMessageBox"));
    exec(box);
}

} // namespace OwnMessageBox
