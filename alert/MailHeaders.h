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
    void remove(const QString& name);
    bool contains(const QString& name) const;
    QString value(const QString& name) const;
    const QList<MailHeader>& items() const { return m_items; }
    void clear() { m_items.clear(); }

private:
    QList<MailHeader> m_items;
};
