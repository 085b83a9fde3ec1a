#include "mail/MailHeaders.h"

namespace {

qsizetype indexOf(const QList<MailHeader>& items, const QString& name)
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace

void MailHeaders::set(const QString& name, const QString& value)
{
    const qsizetype at = indexOf(m_items, name);
    if (at < 0)
        m_items.append({name, value});
    else
        m_items[at].value = value;
}

QString MailHeaders::value(const QString& name) const
{
    const qsizetype at = indexOf(m_items, name);
    return at < 0 ? QString() : m_items[at].value;
}
