#include "ui/widgetdialogs.h"

#include "ui/guard.h"
#include "ui/singleline.h"

#include <QGuiApplication>
#include <QInputDialog>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

// Shown over the window, which it blocks, until the operator closes it; it goes with its
// window, or by itself once closed.
void openOver(QDialog* dialog)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

} // namespace

QString WidgetDialogs::plainLineBreaks(QString text)
{
    return text.replace(u"\n\r"_s, u"\n"_s).replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
}

void WidgetDialogs::message(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(),
                                plainLineBreaks(text), QMessageBox::Ok, m_window);
    openOver(box);
}

void WidgetDialogs::question(const QString& text, Answered answered)
{
    ask(QMessageBox::Question, text, std::move(answered));
}

void WidgetDialogs::warningQuestion(const QString& text, Answered answered)
{
    ask(QMessageBox::Warning, text, std::move(answered));
}

void WidgetDialogs::ask(QMessageBox::Icon icon, const QString& text, Answered answered)
{
    auto* box =
        new QMessageBox(icon, QGuiApplication::applicationDisplayName(), plainLineBreaks(text),
                        QMessageBox::Yes | QMessageBox::No, m_window);
    box->setDefaultButton(QMessageBox::Yes);
    // Escape and the title bar's close button give No, as they did in a modal box.
    QObject::connect(
        box, &QDialog::finished, box, guard(m_errors, [box, answered = std::move(answered)] {
            const bool yes = box->standardButton(box->clickedButton()) == QMessageBox::Yes;
            if (answered)
                answered(yes);
        }));
    openOver(box);
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

void WidgetDialogs::input(const QString& title, const QString& prompt, const QString& initial,
                          Entered entered)
{
    auto* dialog = new QInputDialog(m_window);
    dialog->setWindowTitle(title);
    dialog->setLabelText(plainLineBreaks(prompt));
    dialog->setInputMode(QInputDialog::TextInput);
    dialog->setTextValue(initial);
    if (auto* field = dialog->findChild<QLineEdit*>()) {
        field->setMaxLength(kMaxInputLength);
        keepOnOneLine(field);
        // The dialog's layout fixes its size from its contents, so the field makes it wide
        // enough for the whole caption.
        const QMargins margins =
            dialog->layout() ? dialog->layout()->contentsMargins() : QMargins();
        field->setMinimumWidth(titleWidth(*dialog, title) - margins.left() - margins.right());
    }
    QObject::connect(dialog, &QDialog::finished, dialog,
                     guard(m_errors, [dialog, entered = std::move(entered)](int result) {
                         if (!entered)
                             return;
                         if (result != QDialog::Accepted)
                             entered(std::nullopt);
                         else
                             entered(dialog->textValue().left(kMaxInputLength));
                     }));
    openOver(dialog);
}

} // namespace vigilor::ui
