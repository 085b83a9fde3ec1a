#pragma once

#include <QList>
#include <QString>

struct MailHeader {
    QString name;
    QString value;
};

// An ordered list of header fields in which each name (compared case-insensitively) is held once.
class MailHeaders {
public:
    // Replaces the value of the field with this name in place, or appends a new field.
    void set(const QString& name, const QString& value);
    QString value(const QString& name) const;
    const QList<MailHeader>& items() const { return m_items; }

private:
    QList<MailHeader> m_items;
};
