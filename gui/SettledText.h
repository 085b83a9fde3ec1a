#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QLineEdit;

// The text of an edit as it stands once its typing pauses: while the user types, text() stays
// the last settled text, so a half-typed number ("4" on the way to "40") is never acted on. The
// typed text comes into force 1 s after the last keystroke, at Enter, when the focus leaves the
// edit, or at settle(). Text set by the program is in force at once.
class SettledText : public QObject {
    Q_OBJECT
public:
    static constexpr int PauseMs = 1000;

    explicit SettledText(QLineEdit* edit);

    QString text() const { return m_inForce; }
    // Brings what was typed into force now (the dialog closing).
    void settle();

signals:
    // text() may have changed: typing paused or was settled, or the program set the text.
    void settled();

private:
    void takeEditText();

    QLineEdit* m_edit;
    QTimer m_pause;
    QString m_inForce;
    // The text of the keystroke under way. Qt 6 reports a keystroke with textEdited and then
    // textChanged; a textChanged without a keystroke behind it comes from the program.
    QString m_typed;
    bool m_typing = false;
};
