#include "settings/SettledText.h"

#include <QLineEdit>

SettledText::SettledText(QLineEdit* edit)
    : QObject(edit)
    , m_edit(edit)
    , m_current(edit->text())
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(PauseMs);
    connect(&m_pause, &QTimer::timeout, this, &SettledText::settled);
    // textEdited comes after textChanged: by then m_before holds the text before this keystroke.
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_before = m_current;
        m_current = text;
        // Told once textEdited has had its say: typed text is not in force yet, set text is.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_pause.isActive())
                    emit settled();
            },
            Qt::QueuedConnection);
    });
    connect(edit, &QLineEdit::textEdited, this, [this] {
        if (!m_pause.isActive())
            m_inForce = m_before;
        m_pause.start();
    });
    connect(edit, &QLineEdit::editingFinished, this, &SettledText::settle);
}

void SettledText::settle()
{
    if (!m_pause.isActive())
        return;
    m_pause.stop();
    emit settled();
}

QString SettledText::text() const
{
    return m_pause.isActive() ? m_inForce : m_edit->text();
}
