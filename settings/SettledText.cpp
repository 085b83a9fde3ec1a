#include "settings/SettledText.h"

#include <QLineEdit>

SettledText::SettledText(QLineEdit* edit)
    : QObject(edit)
    , m_edit(edit)
    , m_current(edit->text())
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(PauseMs);
    // textEdited comes after textChanged: by then m_before holds the text before this keystroke.
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_before = m_current;
        m_current = text;
    });
    connect(edit, &QLineEdit::textEdited, this, [this] {
        if (!m_pause.isActive())
            m_inForce = m_before;
        m_pause.start();
    });
    connect(edit, &QLineEdit::editingFinished, this, &SettledText::settle);
}

QString SettledText::text() const
{
    return m_pause.isActive() ? m_inForce : m_edit->text();
}
