#include "gui/Memo.h"

Memo::Memo(QWidget* parent)
    : QPlainTextEdit(parent)
{
}

QString Memo::text() const
{
    QString plain = toPlainText();
    return plain.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

void Memo::setText(const QString& text)
{
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    setPlainText(plain);
}
