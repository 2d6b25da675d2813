#include "ui/gameclientgroup.h"

#include "settings/settings.h"
#include "ui/guard.h"
#include "ui/settingsbinding.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

QGroupBox* gameClientGroup(const SettingsBinding& bound, QWidget* parent)
{
    auto* box = new QGroupBox(u"Játékkliens"_s, parent);
    box->setObjectName(u"GameClientGroup"_s);
    QLineEdit* path = textField(bound, Key::CoDexe, u"ed_CoDMP"_s, box);
    auto* label = new QLabel(QString::fromUtf16(keyInfo(Key::CoDexe).caption), box);
    label->setObjectName(u"ed_CoDMPLabel"_s);
    label->setBuddy(path);
    label->setWordWrap(true); // the settings tab keeps the window at its size
    auto* browse = new QToolButton(box);
    browse->setObjectName(u"BrowseCoDMP"_s);
    browse->setText(u"..."_s);
    browse->setToolTip(u"Tallózás"_s);
    QObject::connect(browse, &QToolButton::clicked, box,
                     guard(bound.errors, [&settings = bound.settings, box] {
                         browseGameClient(settings, box->window());
                     }));

    auto* layout = new QGridLayout(box);
    layout->addWidget(label, 0, 0, 1, 2);
    layout->addWidget(path, 1, 0);
    layout->addWidget(browse, 1, 1);
    layout->addWidget(switchBox(bound, Key::CkRcon, u"ck_rcon"_s, box), 2, 0, 1, 2);
    return box;
}

void browseGameClient(Settings& settings, QWidget* parent)
{
    QFileDialog dialog(parent, QString::fromUtf16(keyInfo(Key::CoDexe).caption));
    dialog.setObjectName(u"OpenDialog1"_s);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(u"Végrehajthatók (*.exe *.dll *.com)"_s);
    const QFileInfo current(settings.text(Key::CoDexe));
    if (current.isFile()) {
        dialog.setDirectory(current.absolutePath());
        dialog.selectFile(current.absoluteFilePath());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    settings.setText(Key::CoDexe, QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
}

} // namespace vigilor::ui
