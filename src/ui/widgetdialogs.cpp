#include "ui/widgetdialogs.h"

#include "ui/singleline.h"

#include <QGuiApplication>
#include <QInputDialog>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

QString WidgetDialogs::plainLineBreaks(QString text)
{
    return text.replace(u"\n\r"_s, u"\n"_s).replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
}

void WidgetDialogs::message(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(),
                    plainLineBreaks(text), QMessageBox::Ok, m_window);
    box.exec();
}

bool WidgetDialogs::question(const QString& text)
{
    return ask(QMessageBox::Question, text);
}

bool WidgetDialogs::warningQuestion(const QString& text)
{
    return ask(QMessageBox::Warning, text);
}

bool WidgetDialogs::ask(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, QGuiApplication::applicationDisplayName(), plainLineBreaks(text),
                    QMessageBox::Yes | QMessageBox::No, m_window);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

int WidgetDialogs::titleWidth(const QWidget& dialog, const QString& title)
{
    // Title bars commonly set their caption in bold, beside the window icon and two or three
    // buttons of about twice the text's height each.
    QFont font = dialog.font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(title) + 8 * metrics.height();
}

std::optional<QString> WidgetDialogs::input(const QString& title, const QString& prompt,
                                            const QString& initial)
{
    QInputDialog dialog(m_window);
    dialog.setWindowTitle(title);
    dialog.setLabelText(plainLineBreaks(prompt));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(initial);
    if (auto* field = dialog.findChild<QLineEdit*>()) {
        field->setMaxLength(kMaxInputLength);
        keepOnOneLine(field);
        // The dialog's layout fixes its size from its contents, so the field makes it wide
        // enough for the whole caption.
        const QMargins margins = dialog.layout() ? dialog.layout()->contentsMargins() : QMargins();
        field->setMinimumWidth(titleWidth(dialog, title) - margins.left() - margins.right());
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue().left(kMaxInputLength);
}

} // namespace vigilor::ui
