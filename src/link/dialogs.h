#pragma once

#include <QString>

#include <optional>

namespace vigilor {

// Message boxes, questions and input boxes that engine code asks for. The window implements
// them with real dialogs; tests script the answers.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    virtual void message(const QString& text) = 0;
    virtual bool question(const QString& text) = 0;
    // A Yes/No question under a warning sign, for a step that cannot be undone.
    virtual bool warningQuestion(const QString& text) { return question(text); }
    // An input box; no value when the operator cancelled it.
    virtual std::optional<QString> input(const QString& title, const QString& prompt,
                                         const QString& initial) = 0;
};

} // namespace vigilor
