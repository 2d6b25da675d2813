#pragma once

#include "link/dialogs.h"
#include "text/errors.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace vigilor::ui {

// The engine's message boxes, questions and input boxes as real dialogs over the main window:
// window-modal, opened without an event loop of their own; the answer is handed on when the
// operator closes the dialog (a dialog destroyed with its window answers nothing).
class WidgetDialogs final : public Dialogs
{
public:
    static constexpr int kMaxInputLength = 255;

    explicit WidgetDialogs(QWidget* window = nullptr) : m_window(window) {}

    // The dialogs are created before the window they belong to, so it is set afterwards.
    void setWindow(QWidget* window) { m_window = window; }
    // Where an error the answered operation throws goes (the application's error handler).
    void setErrors(ErrorSink* errors) { m_errors = errors; }

    void message(const QString& text) override;
    void question(const QString& text, Answered answered) override;
    void warningQuestion(const QString& text, Answered answered) override;
    void input(const QString& title, const QString& prompt, const QString& initial,
               Entered entered) override;

    // The engine's texts break their lines with LF CR; a dialog wants plain line feeds.
    static QString plainLineBreaks(QString text);
    // The width a dialog needs so that the window system shows its whole caption.
    static int titleWidth(const QWidget& dialog, const QString& title);

private:
    void ask(QMessageBox::Icon icon, const QString& text, Answered answered);

    QPointer<QWidget> m_window;
    ErrorSink* m_errors = nullptr;
};

} // namespace vigilor::ui
