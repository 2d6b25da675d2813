#include "ui/clientconfigtab.h"

#include "settings/settings.h"
#include "tools/clientconfig.h"
#include "ui/guard.h"
#include "ui/settingsbinding.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

QLabel* redLabel(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

ClientConfigTab::ClientConfigTab(const SettingsBinding& bound, tools::ClientConfig& config,
                                 QWidget* parent)
    : QWidget(parent)
{
    auto* notice = new QLabel(kAddOnNotice, this);
    notice->setObjectName(u"CfgNotice"_s);
    notice->setWordWrap(true);

    auto* frame = new QGroupBox(u"Beállítás"_s, this);
    frame->setObjectName(u"CfgFrame"_s);
    auto* grid = new QGridLayout(frame);
    grid->addWidget(switchBox(bound, Key::CfgEnable, u"cfg_enable"_s, frame), 0, 0, 1, 2);
    QSpinBox* interval = numberBox(bound, Key::SeInterval, u"se_interval"_s, frame);
    auto* intervalLabel = new QLabel(QString::fromUtf16(keyInfo(Key::SeInterval).caption), frame);
    intervalLabel->setObjectName(u"se_intervalLabel"_s);
    intervalLabel->setBuddy(interval);
    grid->addWidget(intervalLabel, 1, 0);
    grid->addWidget(interval, 1, 1);
    // Each value stands beside the box that forces it and is named after it.
    const auto addForced = [&](int row, Key box, const QString& boxName, Key number,
                               const QString& numberName) {
        QCheckBox* check = switchBox(bound, box, boxName, frame);
        QSpinBox* field = numberBox(bound, number, numberName, frame);
        field->setAccessibleName(check->text());
        grid->addWidget(check, row, 0);
        grid->addWidget(field, row, 1);
    };
    addForced(2, Key::CkFps, u"ck_fps"_s, Key::SeFps, u"se_fps"_s);
    addForced(3, Key::CkMaxpackets, u"ck_maxpackets"_s, Key::SeMaxpackets, u"se_maxpackets"_s);
    addForced(4, Key::CkSnaps, u"ck_snaps"_s, Key::SeSnaps, u"se_snaps"_s);
    addForced(5, Key::CkRate, u"ck_rate"_s, Key::SeRate, u"se_rate"_s);
    QCheckBox* forceName = switchBox(bound, Key::CkName, u"ck_name"_s, frame);
    QLineEdit* name = textField(bound, Key::EdName, u"ed_name"_s, frame);
    name->setAccessibleName(forceName->text());
    grid->addWidget(forceName, 6, 0, 1, 2);
    grid->addWidget(name, 7, 0, 1, 2);

    auto* apply = new QPushButton(u"Alkalmaz"_s, frame);
    apply->setObjectName(u"cfg_apply"_s);
    connect(apply, &QPushButton::clicked, this, guard(bound.errors, [&config] { config.apply(); }));
    grid->addWidget(apply, 8, 0, 1, 2);
    auto* arrows = new QHBoxLayout;
    arrows->addWidget(redLabel(u"--->"_s, u"ArrowRight"_s, frame));
    arrows->addStretch();
    arrows->addWidget(redLabel(u"<---"_s, u"ArrowLeft"_s, frame));
    grid->addLayout(arrows, 9, 0, 1, 2);

    QLabel* caution = redLabel(kWarning, u"CfgWarning"_s, this);
    QFont large = caution->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    caution->setFont(large);
    caution->setWordWrap(true);
    caution->setAlignment(Qt::AlignCenter);

    auto* row = new QHBoxLayout;
    row->addWidget(frame);
    row->addWidget(caution, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(notice);
    layout->addLayout(row);
    layout->addStretch();
}

} // namespace vigilor::ui
