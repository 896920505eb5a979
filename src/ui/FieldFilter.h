#pragma once
// A validator that rewrites what reaches a line edit instead of refusing it:
// QLineEdit runs it on every change, whether typed, pasted, dropped or
// committed by an input method, so the edit never shows a character the
// field would not store.
#include <QValidator>

class TFieldFilter : public QValidator {
public:
    using Filter = QString (*)(const QString&);

    TFieldFilter(Filter filter, QObject* parent) : QValidator(parent), FFilter(filter) {}

    State validate(QString& input, int& pos) const override
    {
        // The filter works character by character, so the caret keeps its
        // place among the characters that stay.
        pos = static_cast<int>(FFilter(input.left(pos)).size());
        input = FFilter(input);
        return Acceptable;
    }

private:
    Filter FFilter;
};
