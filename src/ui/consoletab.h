#pragma once

#include <QStringList>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QTimer;

namespace vigilor {
class ErrorSink;
}
namespace vigilor::channel {
class Broadcaster;
class Interpreter;
} // namespace vigilor::channel
namespace vigilor::link {
class Console;
class Link;
} // namespace vigilor::link
namespace vigilor::record {
class ActRecord;
}

namespace vigilor::ui {

class LinesView;

// The tab "Konzol": the console with its toolbar, the command and chat boxes, and the queue view
// beside the console. The console view shows the engine's console lines themselves and lays out
// only those in sight, so a day's log of a quarter of a million lines stays quick and small.
class ConsoleTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConsoleTab)

public:
    // The chat box speaks through the broadcaster; the restart buttons go to the interpreter as
    // if typed in the game.
    ConsoleTab(link::Console& console, link::Link& link, channel::Broadcaster& broadcaster,
               channel::Interpreter& interpreter, record::ActRecord& record, ErrorSink* errors,
               QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tabSheet4Show();
    void refreshQueueView();
    void queueViewTick();
    void sendClick();
    void sendCommand(const QString& command);
    void sayClick();
    void runChannelCommand(const QString& command);
    void passTypedText(const QString& text);
    void updateLinkControls(bool connected);

    link::Link& m_link;
    channel::Broadcaster& m_broadcaster;
    channel::Interpreter& m_interpreter;
    record::ActRecord& m_record;
    ErrorSink* m_errors;
    LinesView* m_console;
    QListWidget* m_queueView;
    QLineEdit* m_commandBox;
    QLineEdit* m_chatBox;
    QTimer* m_queueTimer;
    QList<QWidget*> m_linkControls; // enabled while connected
    QStringList m_queueShown;
};

} // namespace vigilor::ui
