#pragma once

#include <QString>

namespace HtmlText {

// `text` safe inside HTML (or XML) text and inside a quoted attribute, whichever quote it uses.
QString escaped(const QString& text);

} // namespace HtmlText
