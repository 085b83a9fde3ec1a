#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

// A captioned box of mutually exclusive choices addressed by index, -1 meaning none.
// The buttons are named "<objectName>Item<i>" so tests and styles can reach them.
class RadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(int itemIndex READ itemIndex WRITE setItemIndex NOTIFY itemIndexChanged)

public:
    RadioGroup(const QString& objectName, const QString& caption, const QStringList& items,
               QWidget* parent = nullptr);

    // 0..count()-1, or -1 when no item is checked.
    int itemIndex() const { return m_index; }
    // -1 or an index out of range leaves no item checked.
    void setItemIndex(int index);
    int count() const;
    QString itemText(int index) const;

signals:
    void itemIndexChanged(int index);

private:
    void syncIndex();

    QButtonGroup* m_group;
    QList<QRadioButton*> m_buttons;
    int m_index = -1;
};
