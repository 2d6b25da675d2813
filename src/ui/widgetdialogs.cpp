#include "ui/widgetdialogs.h"

#include <QGuiApplication>
#include <QInputDialog>
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
    QMessageBox box(QMessageBox::Question, QGuiApplication::applicationDisplayName(),
                    plainLineBreaks(text), QMessageBox::Yes | QMessageBox::No, m_window);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> WidgetDialogs::input(const QString& title, const QString& prompt,
                                            const QString& initial)
{
    QInputDialog dialog(m_window);
    dialog.setWindowTitle(title);
    dialog.setLabelText(plainLineBreaks(prompt));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(initial);
    if (auto* field = dialog.findChild<QLineEdit*>())
        field->setMaxLength(kMaxInputLength);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue().left(kMaxInputLength);
}

} // namespace vigilor::ui
