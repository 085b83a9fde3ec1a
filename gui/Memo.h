#pragma once

#include <QPlainTextEdit>

// A multi-line text box whose text has CR LF line breaks, the form mail bodies take.
class Memo : public QPlainTextEdit {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    explicit Memo(QWidget* parent = nullptr);

    // The lines joined by "\r\n"; an empty last line shows as a trailing "\r\n".
    QString text() const;
    // Accepts CR LF, LF or CR line breaks.
    void setText(const QString& text);
};
