#pragma once

#include <QWidget>

class QLineEdit;

namespace vigilor {
class Robot;
}

namespace vigilor::ui {

class GradedList;

// The tab "Banlista": the ban list with its grade selector, text field and buttons, the check
// switch and interval on the left; the learning list with its selector and switches on the
// right. The lists mirror the engine's; every edit goes through the engine.
class BansTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BansTab)

public:
    explicit BansTab(Robot& robot, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildBanSide();
    QWidget* buildLearningSide();
    void addClick();
    // A change of the ban list, written to the record of acts as the window's.
    void recordBanAct(const QString& what, const QString& entry, const QString& grade);

    Robot& m_robot;
    GradedList* m_bans = nullptr;
    GradedList* m_learning = nullptr;
    QLineEdit* m_text = nullptr;
};

} // namespace vigilor::ui
