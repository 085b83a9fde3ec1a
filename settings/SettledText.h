#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QLineEdit;

// The text of an edit as it stands once its typing pauses: while the user types, text() stays
// what was in force before the edit began, so a half-typed number ("4" on the way to "40") is
// never acted on. The new text comes into force 1 s after the last keystroke, at Enter, when the
// focus leaves the edit, or at settle(). Text set by the program is in force at once.
class SettledText : public QObject {
    Q_OBJECT
public:
    static constexpr int PauseMs = 1000;

    explicit SettledText(QLineEdit* edit);

    QString text() const;
    // Brings what was typed into force now (the dialog closing).
    void settle();

signals:
    // text() may have changed: typing paused or was settled, or the program set the text.
    void settled();

private:
    QLineEdit* m_edit;
    QTimer m_pause;
    QString m_current; // the edit's text, as last seen
    QString m_before;  // its text before that change
    QString m_inForce; // while typing
};
