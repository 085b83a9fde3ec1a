#pragma once

#include <QValidator>

// Guards an edit whose text goes into the settings file: input holding characters that
// Shift-JIS (CP932) cannot hold, or making the text longer than the file keeps, is refused
// whole, and refused() says why, so nothing is changed or cut in silence at the next save.
class StoredTextValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override;

signals:
    void refused(const QString& why) const;
};
