#pragma once

#include <QMessageBox>
#include <QString>

// The program's own modal message boxes. They run no idle passes while open: a pass could
// otherwise open another box on top of this one.
namespace OwnMessageBox {

int exec(QMessageBox& box);
// An OK-only box with the given text and caption.
void show(QMessageBox::Icon icon, const QString& caption, const QString& text);

} // namespace OwnMessageBox
