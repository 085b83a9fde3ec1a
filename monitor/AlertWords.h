#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct AlertEvent;

// The user's own words for what alerts, recovered notices, reminders and the tests say by mail
// and push ([Mail] Subject and [Mail] Body): templates whose placeholders ({subject}, {message},
// {temperature}, {rb1}, {rb0}, {rules}, {time}, {board}, {memo}) take the event's values. An
// empty template, or one refused, leaves the classic text. In a template "\n" is a line break
// and "\\" a backslash; braces around anything but a name ("{", "{ a }") are kept as they are.
// A subject is one line: a line break in its template refuses it, and line breaks in the values
// it takes become blanks, so no value can start a header of its own.
class AlertWords {
public:
    enum Part { Subject, Body };

    // What {board} says: "address:port".
    static QString board(const QString& address, const QString& port);
    // The placeholders' names, without braces, in the order the README lists them.
    static const QStringList& placeholders();
    // Why `text` cannot be the template of `part`, in the classic style of a bad text; empty
    // when it can.
    static QString problem(Part part, const QString& text);

    // Puts `text` in force as the template of `part`, or the classic text when it is refused:
    // returns why it was, as problem() does.
    QString set(Part part, const QString& text);
    // A template of the user's is in force for `part`.
    bool isOwn(Part part) const { return !m_pieces[part].isEmpty(); }

    struct Text {
        QString subject;
        QString body;
    };
    // `classic` with the parts that have words of the user's own replaced: the values are the
    // event's (its subject and message, its last reading, its rules and memos, its time) and
    // `board` ("address:port").
    Text apply(const AlertEvent& event, const QString& board, const Text& classic) const;

    // A template taken apart: literal text and placeholders in turn.
    struct Piece {
        QString text;   // literal text, when field < 0
        int field = -1; // an index into placeholders()
    };

private:
    QString render(Part part, const AlertEvent& event, const QString& board) const;

    QList<Piece> m_pieces[2];
};
