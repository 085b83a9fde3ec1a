#include "gui/SettledText.h"

#include <QLineEdit>

SettledText::SettledText(QLineEdit* edit)
    : QObject(edit)
    , m_edit(edit)
    , m_inForce(edit->text())
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(PauseMs);
    connect(&m_pause, &QTimer::timeout, this, &SettledText::takeEditText);
    connect(edit, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_typed = text;
        m_typing = true;
        m_pause.start();
    });
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_typing && text == m_typed)
            return; // the keystroke's own change: it waits for the pause
        // Set by the program: in force at once, told once the keystroke (if any) is over.
        m_pause.stop();
        m_typing = false;
        m_inForce = text;
        QMetaObject::invokeMethod(this, &SettledText::settled, Qt::QueuedConnection);
    });
    connect(edit, &QLineEdit::editingFinished, this, &SettledText::settle);
}

void SettledText::settle()
{
    if (m_typing)
        takeEditText();
}

void SettledText::takeEditText()
{
    m_pause.stop();
    m_typing = false;
    m_inForce = m_edit->text();
    emit settled();
}
