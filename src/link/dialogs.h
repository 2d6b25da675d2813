#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace vigilor {

// Message boxes, questions and input boxes that engine code asks for. None of them waits: a
// message is a notice the front end shows, and a question or an input box is a request that the
// front end answers later (the window when the operator closes its dialog, the headless program
// and the tests at once). The operation that asked goes on from the answer; nothing runs inside
// the call.
class Dialogs
{
public:
    using Answered = std::function<void(bool yes)>;
    using Entered = std::function<void(std::optional<QString> text)>;

    virtual ~Dialogs() = default;
    virtual void message(const QString& text) = 0;
    // A Yes/No question; `answered` gets true for yes.
    virtual void question(const QString& text, Answered answered) = 0;
    // A Yes/No question under a warning sign, for a step that cannot be undone.
    virtual void warningQuestion(const QString& text, Answered answered)
    {
        question(text, std::move(answered));
    }
    // An input box; `entered` gets no value when the operator cancelled it.
    virtual void input(const QString& title, const QString& prompt, const QString& initial,
                       Entered entered) = 0;
};

} // namespace vigilor
