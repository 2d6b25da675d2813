#pragma once

#include "ui/settingsbinding.h"

#include <QWidget>

class QLineEdit;

namespace vigilor::record {
class ActRecord;
}
namespace vigilor::rules {
class BanList;
class LearningList;
class RosterMenu;
} // namespace vigilor::rules

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
    BansTab(const SettingsBinding& bound, rules::BanList& banList, rules::LearningList& learning,
            rules::RosterMenu& menu, record::ActRecord& record, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildBanSide();
    QWidget* buildLearningSide();
    void addClick();
    // A change of the ban list, written to the record of acts as the window's.
    void recordBanAct(const QString& what, const QString& entry, const QString& grade);

    SettingsBinding m_bound;
    rules::BanList& m_banList;
    rules::LearningList& m_learningList;
    record::ActRecord& m_record;
    GradedList* m_bans = nullptr;
    GradedList* m_learning = nullptr;
    QLineEdit* m_text = nullptr;
};

} // namespace vigilor::ui
