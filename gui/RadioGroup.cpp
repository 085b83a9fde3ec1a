#include "gui/RadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

RadioGroup::RadioGroup(const QString& objectName, const QString& caption, const QStringList& items,
                       QWidget* parent)
    : QGroupBox(caption, parent)
    , m_group(new QButtonGroup(this))
{
    setObjectName(objectName);
    m_group->setExclusive(true);
    auto* layout = new QVBoxLayout(this);
    // The boxes are small: tight margins keep every item whole.
    layout->setContentsMargins(8, 0, 4, 0);
    layout->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setObjectName(objectName + QStringLiteral("Item") + QString::number(i));
        m_group->addButton(button, i);
        layout->addWidget(button);
        m_buttons.append(button);
        connect(button, &QAbstractButton::toggled, this, &RadioGroup::syncIndex);
    }
}

void RadioGroup::setItemIndex(int index)
{
    if (index >= 0 && index < m_buttons.size()) {
        m_buttons[index]->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its checked button, so lift exclusivity meanwhile.
    if (QAbstractButton* checked = m_group->checkedButton()) {
        m_group->setExclusive(false);
        checked->setChecked(false);
        m_group->setExclusive(true);
    }
}

int RadioGroup::count() const
{
    return m_buttons.size();
}

QString RadioGroup::itemText(int index) const
{
    return index >= 0 && index < m_buttons.size() ? m_buttons[index]->text() : QString();
}

void RadioGroup::syncIndex()
{
    // A switch toggles two buttons; only the first notification sees a new index.
    const int index = m_group->checkedId();
    if (index == m_index)
        return;
    m_index = index;
    emit itemIndexChanged(index);
}
