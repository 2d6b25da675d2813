#include "ui/consoletab.h"

#include "channel/broadcaster.h"
#include "channel/interpreter.h"
#include "link/console.h"
#include "link/datagram.h"
#include "link/link.h"
#include "record/actrecord.h"
#include "text/clock.h"
#include "ui/guard.h"
#include "ui/linesview.h"
#include "ui/singleline.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

constexpr int kQueueViewMs = 250;
constexpr int kQueueViewWidth = 120;

// A key that types characters; a shortcut (Ctrl with a letter, say) stays with the console. AltGr
// arrives as Ctrl with Alt on some desktops, and types characters.
bool typesText(const QKeyEvent* key)
{
    const Qt::KeyboardModifiers modifiers = key->modifiers();
    if (modifiers & (Qt::ControlModifier | Qt::MetaModifier) && !(modifiers & Qt::AltModifier))
        return false;
    const QString text = key->text();
    return !text.isEmpty() &&
           std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isPrint(); });
}

} // namespace

ConsoleTab::ConsoleTab(link::Console& console, link::Link& link, channel::Broadcaster& broadcaster,
                       channel::Interpreter& interpreter, record::ActRecord& record,
                       ErrorSink* errors, QWidget* parent)
    : QWidget(parent), m_link(link), m_broadcaster(broadcaster), m_interpreter(interpreter),
      m_record(record), m_errors(errors), m_console(new LinesView(errors, this)),
      m_queueView(new QListWidget(this)), m_commandBox(new QLineEdit(this)),
      m_chatBox(new QLineEdit(this)), m_queueTimer(new QTimer(this))
{
    const auto toolButton = [&](const QString& name, const QString& caption, auto action) {
        auto* button = new QToolButton(this);
        button->setObjectName(name);
        button->setText(caption);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, guard(errors, action));
        m_linkControls << button;
        return button;
    };
    auto* toolbar = new QHBoxLayout;
    toolbar->addWidget(
        toolButton(u"statbutt"_s, u"[status]"_s, [this] { sendCommand(u"status"_s); }));
    toolbar->addWidget(
        toolButton(u"servinfbutt"_s, u"[serverinfo]"_s, [this] { sendCommand(u"serverinfo"_s); }));
    toolbar->addWidget(toolButton(u"warnbutt"_s, u"[figyelmeztető]"_s,
                                  [this] { runChannelCommand(u"restart warn"_s); }));
    toolbar->addWidget(toolButton(u"restartbutt"_s, u"[újraindítás]"_s,
                                  [this] { runChannelCommand(u"restart"_s); }));
    toolbar->addStretch();

    m_queueView->setObjectName(u"ListBox1"_s);
    m_queueView->setFixedWidth(kQueueViewWidth);
    auto* middle = new QHBoxLayout;
    middle->addWidget(m_console);
    middle->addWidget(m_queueView);

    m_commandBox->setObjectName(u"Edit4"_s);
    keepOnOneLine(m_commandBox);
    keepOnOneLine(m_chatBox);
    auto* send = new QPushButton(u"Küldés"_s, this);
    send->setObjectName(u"Send"_s);
    m_chatBox->setObjectName(u"Edit6"_s);
    auto* say = new QPushButton(u"Mondd"_s, this);
    say->setObjectName(u"Say"_s);
    m_linkControls << m_commandBox << send << m_chatBox << say;
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_commandBox, 3);
    bottom->addWidget(send);
    bottom->addWidget(m_chatBox, 2);
    bottom->addWidget(say);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(toolbar);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);

    connect(send, &QPushButton::clicked, this, guard(errors, [this] { sendClick(); }));
    connect(m_commandBox, &QLineEdit::returnPressed, this, guard(errors, [this] { sendClick(); }));
    connect(say, &QPushButton::clicked, this, guard(errors, [this] { sayClick(); }));
    connect(m_chatBox, &QLineEdit::returnPressed, say, &QPushButton::click);
    m_console->installEventFilter(this);

    // The view reads the console's own lines; it is only told that they changed.
    m_console->setObjectName(u"console"_s);
    m_console->setAccessibleName(u"Konzol"_s);
    m_console->setLines(&console.content());
    connect(&console, &link::Console::linesAppended, m_console,
            guard(errors, [this] { m_console->linesAppended(); }));
    connect(&console, &link::Console::contentReset, m_console,
            guard(errors, [this] { m_console->linesReset(); }));

    m_queueTimer->setObjectName(u"Timer6"_s);
    m_queueTimer->setInterval(kQueueViewMs);
    connect(m_queueTimer, &QTimer::timeout, this, guard(errors, [this] { queueViewTick(); }));
    connect(&link, &link::Link::queueChanged, this, guard(errors, [this] { refreshQueueView(); }));
    connect(&link, &link::Link::linkControlsUpdated, this,
            guard(errors, [this](bool connected) { updateLinkControls(connected); }));
}

void ConsoleTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    guarded(m_errors, [this] { tabSheet4Show(); });
}

bool ConsoleTab::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_console && event->type() == QEvent::KeyPress && m_commandBox->isEnabled()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (typesText(key)) {
            guarded(m_errors, [&] { passTypedText(key->text()); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The console's last line comes into view from its start, so that the time stamps show, and
// the queue view starts refreshing itself again.
void ConsoleTab::tabSheet4Show()
{
    m_console->showLastLine();
    // A window shown for the first time still gets its final size from the window system.
    QTimer::singleShot(0, this, guard(m_errors, [this] { m_console->showLastLine(); }));
    refreshQueueView();
    m_queueTimer->start();
}

void ConsoleTab::refreshQueueView()
{
    const QStringList& queue = m_link.queue();
    if (queue == m_queueShown)
        return;
    m_queueView->clear();
    m_queueView->addItems(queue);
    m_queueShown = queue;
}

// Timer6: a hidden window stops the view from refreshing itself until the tab is shown again.
void ConsoleTab::queueViewTick()
{
    refreshQueueView();
    if (!isShowing(this))
        m_queueTimer->stop();
}

void ConsoleTab::sendClick()
{
    link::Link& link = m_link;
    if (!link.isConnected())
        return;
    const QString command = m_commandBox->text();
    link.sendFromCommandBox(command);
    m_commandBox->clear();
    m_record.add({{},
                  record::kWindow,
                  {},
                  QStringLiteral("Küldés"),
                  {},
                  {},
                  {},
                  link::maskedCommand(command)});
}

void ConsoleTab::sendCommand(const QString& command)
{
    m_commandBox->setText(command);
    sendClick();
}

// "Mondd": the box keeps its text, so a line can be said again.
void ConsoleTab::sayClick()
{
    const QString text = m_chatBox->text();
    if (text.isEmpty())
        return;
    m_broadcaster.sayPublic(text);
    m_record.add({{}, record::kWindow, {}, QStringLiteral("Mondd"), {}, {}, {}, text});
}

// The restart buttons act as if an administrator had typed the command in the game.
void ConsoleTab::runChannelCommand(const QString& command)
{
    // The window shows what the command changed once the event loop runs again; the command
    // is done, nothing waits on it.
    m_interpreter.runChannelCommand(channel::Interpreter::madeUpAnswer(command));
}

// A key typed on the console starts a command: it goes to the end of the command box.
void ConsoleTab::passTypedText(const QString& text)
{
    m_commandBox->setFocus();
    m_commandBox->setText(m_commandBox->text() + text);
    m_commandBox->end(false);
}

void ConsoleTab::updateLinkControls(bool connected)
{
    for (QWidget* control : std::as_const(m_linkControls))
        control->setEnabled(connected);
}

} // namespace vigilor::ui
