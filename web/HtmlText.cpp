#include "web/HtmlText.h"

QString HtmlText::escaped(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            // Not &apos;: HTML 4 readers do not know it.
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}
