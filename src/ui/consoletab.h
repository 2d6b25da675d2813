#pragma once

#include <QStringList>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QTimer;

namespace vigilor {
class Robot;
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
    explicit ConsoleTab(Robot& robot, QWidget* parent = nullptr);

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

    Robot& m_robot;
    LinesView* m_console;
    QListWidget* m_queueView;
    QLineEdit* m_commandBox;
    QLineEdit* m_chatBox;
    QTimer* m_queueTimer;
    QList<QWidget*> m_linkControls; // enabled while connected
    QStringList m_queueShown;
};

} // namespace vigilor::ui
