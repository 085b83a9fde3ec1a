#pragma once

#include <QMessageBox>
#include <QString>

// The program's own modal message boxes. Like plain system message boxes, they run no idle
// passes while open, and they can tell whether one is open.
namespace OwnMessageBox {

int exec(QMessageBox& box);
// An OK-only box with the given text and caption.
void show(QMessageBox::Icon icon, const QString& caption, const QString& text);
bool anyOpen();

} // namespace OwnMessageBox
