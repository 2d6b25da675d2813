#pragma once

#include "link/dialogs.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace vigilor::ui {

// The engine's message boxes, questions and input boxes as real dialogs over the main window.
class WidgetDialogs final : public Dialogs
{
public:
    static constexpr int kMaxInputLength = 255;

    explicit WidgetDialogs(QWidget* window = nullptr) : m_window(window) {}

    // The dialogs are created before the window they belong to, so it is set afterwards.
    void setWindow(QWidget* window) { m_window = window; }

    void message(const QString& text) override;
    bool question(const QString& text) override;
    bool warningQuestion(const QString& text) override;
    std::optional<QString> input(const QString& title, const QString& prompt,
                                 const QString& initial) override;

    // The engine's texts break their lines with LF CR; a dialog wants plain line feeds.
    static QString plainLineBreaks(QString text);
    // The width a dialog needs so that the window system shows its whole caption.
    static int titleWidth(const QWidget& dialog, const QString& title);

private:
    bool ask(QMessageBox::Icon icon, const QString& text);

    QPointer<QWidget> m_window;
};

} // namespace vigilor::ui
