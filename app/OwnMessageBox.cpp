#include "app/OwnMessageBox.h"

#include "app/IdlePass.h"

namespace {
int openBoxes = 0;
}

namespace OwnMessageBox {

int exec(QMessageBox& box)
{
    ++openBoxes;
    IdlePass::Suspension noPasses;
    const int result = box.exec();
    --openBoxes;
    return result;
}

void show(QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("OwnMessageBox"));
    exec(box);
}

bool anyOpen()
{
    return openBoxes > 0;
}

} // namespace OwnMessageBox
