#include "ui/linkbar.h"

#include "link/link.h"
#include "settings/settings.h"
#include "tools/launcher.h"
#include "ui/guard.h"
#include "ui/singleline.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

using Getter = QString (Settings::*)() const;
using Setter = void (Settings::*)(const QString&);
using Changed = void (Settings::*)(const QString&);

// The settings model holds the value; the field shows it and writes back what is typed.
void bind(QLineEdit* field, Settings& settings, ErrorSink* errors, Getter get, Setter set,
          Changed changed)
{
    field->setText((settings.*get)());
    QObject::connect(
        field, &QLineEdit::textChanged, field,
        guard(errors, [&settings, set](const QString& text) { (settings.*set)(text); }));
    QObject::connect(&settings, changed, field, guard(errors, [field](const QString& value) {
        if (field->text() != value)
            field->setText(value);
    }));
}

// The picture of GoPlay: a white "play" sign on green, drawn so that it needs no image file.
QIcon playIcon()
{
    constexpr int kSize = 20;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2e, 0x8b, 0x3a));
    painter.drawEllipse(1, 1, kSize - 2, kSize - 2);
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygon({QPoint(7, 5), QPoint(15, 10), QPoint(7, 15)}));
    painter.end();
    return QIcon(pixmap);
}

} // namespace

LinkBar::LinkBar(Settings& settings, link::Link& link, tools::Launcher& launcher, ErrorSink* errors,
                 QWidget* parent)
    : QWidget(parent)
{
    setObjectName(u"TopBar"_s);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 2);

    const auto addField = [&](const QString& labelName, const QString& caption,
                              const QString& fieldName, int width) {
        auto* label = new QLabel(caption, this);
        label->setObjectName(labelName);
        auto* field = new QLineEdit(this);
        field->setObjectName(fieldName);
        keepOnOneLine(field);
        field->setMinimumWidth(width);
        label->setBuddy(field);
        layout->addWidget(label);
        layout->addWidget(field, width);
        m_serverFields << label << field;
        return field;
    };
    QLineEdit* host = addField(u"Label3"_s, u"Host/IP:"_s, u"Edit1"_s, 104);
    QLineEdit* port = addField(u"Label5"_s, u"Port:"_s, u"Edit3"_s, 50);
    QLineEdit* password = addField(u"Label2"_s, u"Jelszó:"_s, u"Edit2"_s, 90);
    password->setEchoMode(QLineEdit::Password);
    bind(host, settings, errors, &Settings::host, &Settings::setHost, &Settings::hostChanged);
    bind(port, settings, errors, &Settings::port, &Settings::setPort, &Settings::portChanged);
    bind(password, settings, errors, &Settings::password, &Settings::setPassword,
         &Settings::passwordChanged);

    const auto addButton = [&](const QString& name, const QString& caption, auto action) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(name);
        connect(button, &QPushButton::clicked, this, guard(errors, action));
        layout->addWidget(button);
        return button;
    };
    QPushButton* connectButton =
        addButton(u"Button1"_s, u"Csatlakozás"_s, [&link] { link.connectAction(); });
    m_serverActions << addButton(u"ChRCON"_s, u"Jelszó váltás"_s,
                                 [&link] { link.changePassword(); })
                    << addButton(u"LockBtn"_s, u"Lezár"_s, [&link] { link.lockServer(); })
                    << addButton(u"OpenBtn"_s, u"Kinyit"_s, [&link] { link.openServer(); });
    for (QWidget* action : std::as_const(m_serverActions))
        action->setEnabled(false);

    // GoPlay at the right end: the operator's own game client, connected to this server.
    auto* play = new QToolButton(this);
    play->setObjectName(u"SpeedButton1"_s);
    play->setText(u"GoPlay!"_s);
    play->setToolTip(u"GoPlay!"_s);
    play->setIcon(playIcon());
    play->setIconSize(QSize(20, 20));
    play->setToolButtonStyle(Qt::ToolButtonIconOnly);
    play->setAutoRaise(true);
    connect(play, &QToolButton::clicked, this, guard(errors, [&launcher] { launcher.goPlay(); }));
    layout->addWidget(play);

    connect(&link, &link::Link::connectedChanged, this,
            guard(errors, [connectButton](bool connected) {
                connectButton->setText(connected ? u"Szétkapcsol"_s : u"Csatlakozás"_s);
            }));
    // While a connection is being made (its name looked up, its next try waiting) the button
    // gives it up; it says so to whoever points at it or reads it out.
    connect(&link, &link::Link::connectingChanged, this,
            guard(errors, [connectButton](bool connecting) {
                const QString hint =
                    connecting ? u"Csatlakozás folyamatban: a gomb leállítja"_s : QString();
                connectButton->setToolTip(hint);
                connectButton->setAccessibleDescription(hint);
            }));
    connect(&link, &link::Link::linkControlsUpdated, this,
            guard(errors, [this](bool connected) { updateLinkControls(connected); }));
}

void LinkBar::updateLinkControls(bool connected)
{
    for (QWidget* field : std::as_const(m_serverFields))
        field->setEnabled(!connected);
    for (QWidget* action : std::as_const(m_serverActions))
        action->setEnabled(connected);
}

} // namespace vigilor::ui
