#include "ui/singleline.h"

#include "text/textutil.h"

#include <QLineEdit>
#include <QValidator>

#include <algorithm>

namespace vigilor::ui {

namespace {

// A validator that mends instead of refusing: the line edit takes the mended text and caret.
class SingleLineValidator final : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override
    {
        if (std::none_of(input.cbegin(), input.cend(), text::isLineBreak))
            return Acceptable;
        const QString before = input.left(pos);
        const QString mended = text::singleLine(input);
        // The caret stays behind what stood before it; a break it followed is a blank only once
        // something comes after it.
        pos = std::min(int(text::singleLine(before).size()), int(mended.size()));
        if (pos < mended.size() && pos > 0 && !before.isEmpty() &&
            text::isLineBreak(before.back()) && mended.at(pos) == u' ')
            ++pos;
        input = mended;
        return Acceptable;
    }
};

} // namespace

void keepOnOneLine(QLineEdit* field)
{
    if (!field->validator())
        field->setValidator(new SingleLineValidator(field));
}

} // namespace vigilor::ui
