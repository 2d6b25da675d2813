#include "ui/trayicon.h"

#include "link/link.h"
#include "tools/launcher.h"
#include "ui/guard.h"
#include "ui/helptexts.h"

#include <QMenu>
#include <QPainter>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

// A white "V" on the console's teal, so the icon needs no image file.
QIcon drawnIcon()
{
    constexpr int kSize = 32;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x00, 0x80, 0x80));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(1, 1, kSize - 2, kSize - 2, 6, 6);
    painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygon({QPoint(8, 8), QPoint(16, 24), QPoint(24, 8)}));
    painter.end();
    return QIcon(pixmap);
}

} // namespace

TrayIcon::TrayIcon(link::Link& link, link::Console& console, tools::Launcher& launcher,
                   ErrorSink* errors, QWidget* window)
    : QSystemTrayIcon(drawnIcon(), window), m_menu(std::make_unique<QMenu>())
{
    setObjectName(u"TrayIcon1"_s);
    m_menu->setObjectName(u"TrayMenu"_s);
    QAction* open = m_menu->addAction(u"Megnyitás"_s);
    open->setObjectName(u"OpenApp"_s);
    m_menu->setDefaultAction(open);
    QAction* play = m_menu->addAction(u"GoPlay!"_s);
    play->setObjectName(u"GoPlay"_s);
    QAction* website = m_menu->addAction(u"Weblap"_s);
    website->setObjectName(u"WebPage"_s);
    m_menu->addSeparator();
    QAction* exit = m_menu->addAction(u"Kilépés"_s);
    exit->setObjectName(u"ExitApp"_s);
    setContextMenu(m_menu.get());

    connect(open, &QAction::triggered, this, guard(errors, [this] { emit openRequested(); }));
    connect(play, &QAction::triggered, this, guard(errors, [&launcher] { launcher.goPlay(); }));
    connect(website, &QAction::triggered, this,
            guard(errors, [&console] { help::openDocumentation(console); }));
    connect(exit, &QAction::triggered, this, guard(errors, [this] { emit exitRequested(); }));
    connect(this, &QSystemTrayIcon::activated, this,
            guard(errors, [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    emit openRequested();
            }));

    setToolTip(link.trayHint());
    connect(&link, &link::Link::trayHintChanged, this,
            guard(errors, [this](const QString& hint) { setToolTip(hint); }));
}

TrayIcon::~TrayIcon() = default;

} // namespace vigilor::ui
