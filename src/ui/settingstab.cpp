#include "ui/settingstab.h"

#include "channel/interpreter.h"
#include "link/dialogs.h"
#include "settings/settings.h"
#include "ui/gameclientgroup.h"
#include "ui/guard.h"
#include "ui/importgroup.h"
#include "ui/settingsbinding.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

QString caption(Key key)
{
    return QString::fromUtf16(keyInfo(key).caption);
}

QGroupBox* group(const QString& name, const QString& title, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(name);
    return box;
}

// The memo's lines as a memo control counts them: an empty memo has none, and the empty line
// after a final line break is no line of its own. The raw text keeps non-breaking blanks.
QStringList memoLines(const QPlainTextEdit* memo)
{
    QString text = memo->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n').replace(QChar::LineSeparator, u'\n');
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(u'\n');
    if (lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

QString memoText(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + u'\n';
    return text;
}

} // namespace

SettingsTab::SettingsTab(const SettingsBinding& bound, exchange::Importer& importer,
                         Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), m_bound(bound), m_dialogs(dialogs), m_groups(new QGridLayout(this))
{
    m_groups->addWidget(startGroup(), 0, 0);
    m_groups->addWidget(channelGroup(), 1, 0);
    m_groups->addWidget(watchGroup(), 0, 1, 2, 1);
    m_groups->addWidget(chatGroup(), 2, 0, 1, 2);
    m_groups->addWidget(gameClientGroup(m_bound, this), 2, 2, Qt::AlignTop);
    auto* exchangeColumn = new QVBoxLayout;
    exchangeColumn->addWidget(importGroup(m_bound, importer, this));
    exchangeColumn->addWidget(webGroup());
    m_groups->addLayout(exchangeColumn, 0, 2, 2, 1);
    m_groups->setRowStretch(2, 1);
    m_groups->setColumnStretch(2, 1);
}

QGroupBox* SettingsTab::startGroup()
{
    QGroupBox* box = group(u"StartGroup"_s, u"Indulás"_s, this);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(switchBox(m_bound, Key::AutoStart, u"AutoStartBox"_s, box));
    layout->addWidget(switchBox(m_bound, Key::SaveServerInfo, u"SaveServerInfoBox"_s, box));
    layout->addWidget(switchBox(m_bound, Key::AutoConnect, u"AutoConnectBox"_s, box));
    layout->addWidget(switchBox(m_bound, Key::StartMinimized, u"StartMinimizedBox"_s, box));
    return box;
}

// The robot's voice: the public chat switch, the announcer with its messages, the time signal.
QGroupBox* SettingsTab::chatGroup()
{
    QGroupBox* box = group(u"ChatGroup"_s, u"Chat"_s, this);
    auto* left = new QVBoxLayout;
    left->addWidget(switchBox(m_bound, Key::EventNotify, u"EventNotifyBox"_s, box));
    left->addWidget(switchBox(m_bound, Key::Notification, u"NotificationBox"_s, box));
    QSpinBox* period = numberBox(m_bound, Key::AnounceInterval, u"AnounceInterval"_s, box);
    // Leaving the field sets the period again, which restarts the count of a running announcer.
    connect(period, &QSpinBox::editingFinished, period, guard(m_bound.errors, [this, period] {
                m_bound.settings.apply(Key::AnounceInterval, period->value());
            }));
    auto* periodRow = new QFormLayout;
    auto* periodLabel = new QLabel(caption(Key::AnounceInterval), box);
    periodLabel->setObjectName(u"AnounceIntervalLabel"_s);
    periodLabel->setBuddy(period);
    periodRow->addRow(periodLabel, period);
    left->addLayout(periodRow);
    left->addWidget(switchBox(m_bound, Key::AnounceTime, u"AnounceTimeBox"_s, box));
    left->addStretch();

    auto* layout = new QHBoxLayout(box);
    layout->addLayout(left);
    layout->addWidget(messageMemo(), 1);
    return box;
}

QPlainTextEdit* SettingsTab::messageMemo()
{
    auto* memo = new QPlainTextEdit(this);
    memo->setObjectName(u"MsgMemo"_s);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Settings& settings = m_bound.settings;
    memo->setPlainText(memoText(settings.messages()));
    connect(memo, &QPlainTextEdit::textChanged, memo,
            guard(m_bound.errors, [&settings, memo] { settings.setMessages(memoLines(memo)); }));
    // Replacing the text would lose the operator's cursor, so only a list that differs from
    // the memo is shown again.
    connect(&settings, &Settings::messagesChanged, memo, guard(m_bound.errors, [&settings, memo] {
        if (memoLines(memo) == settings.messages())
            return;
        const QSignalBlocker quiet(memo);
        memo->setPlainText(memoText(settings.messages()));
    }));
    return memo;
}

// "Parancs figyelő": an operator switching it on reads the warning first; a settings load or
// the engine switching it shows nothing. The scheduler's switch sits below it.
QGroupBox* SettingsTab::channelGroup()
{
    QGroupBox* box = group(u"ChannelGroup"_s, u"Parancsok"_s, this);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(switchBox(m_bound, Key::CommandListener, u"CommandListenerBox"_s, box,
                                [this](QCheckBox* listener, bool on) {
                                    if (on && listener->hasFocus())
                                        m_dialogs.message(channel::Interpreter::kListenerWarning);
                                }));
    layout->addWidget(switchBox(m_bound, Key::Scheduler, u"CheckBox15"_s, box));
    return box;
}

QGroupBox* SettingsTab::watchGroup()
{
    QGroupBox* box = group(u"WatchGroup"_s, u"Ping, rate, fagyás"_s, this);
    auto* layout = new QGridLayout(box);
    const auto addLevel = [&](int row, Key key, const QString& name) {
        QSpinBox* field = numberBox(m_bound, key, name, box);
        auto* label = new QLabel(caption(key), box);
        label->setObjectName(name + u"Label"_s);
        label->setBuddy(field);
        layout->addWidget(label, row, 0);
        layout->addWidget(field, row, 1);
    };
    layout->addWidget(switchBox(m_bound, Key::PingCheck, u"PingMon"_s, box), 0, 0, 1, 2);
    addLevel(1, Key::PingWarningLevel, u"PingWarningLevel"_s);
    addLevel(2, Key::PingKickLevel, u"PingKickLevel"_s);
    layout->addWidget(switchBox(m_bound, Key::RateCheck, u"RateCheckBox"_s, box), 3, 0);
    layout->addWidget(numberBox(m_bound, Key::RequiredRate, u"SpinEdit2"_s, box), 3, 1);
    layout->addWidget(switchBox(m_bound, Key::KickOnBadRate, u"CheckBox7"_s, box), 4, 0, 1, 2);
    layout->addWidget(switchBox(m_bound, Key::AntiFreeze, u"AntiFreezeBox"_s, box), 5, 0, 1, 2);
    layout->setRowStretch(6, 1);
    return box;
}

// The web page's address; its TLS files are set in the settings file or on the command line.
// The web page starts again a moment after the address changes.
QGroupBox* SettingsTab::webGroup()
{
    QGroupBox* box = group(u"WebGroup"_s, u"Webes felület"_s, this);
    QLineEdit* field = textField(m_bound, Key::WebListen, u"WebListen"_s, box);
    field->setPlaceholderText(u"127.0.0.1:8080"_s);
    auto* label = new QLabel(caption(Key::WebListen), box);
    label->setObjectName(u"WebListenLabel"_s);
    label->setBuddy(field);
    auto* layout = new QHBoxLayout(box);
    // One row under the title: slim, so that the column keeps the window at its size.
    QMargins margins = layout->contentsMargins();
    margins.setTop(margins.top() / 2);
    margins.setBottom(margins.bottom() / 2);
    layout->setContentsMargins(margins);
    layout->addWidget(label);
    layout->addWidget(field, 1);
    return box;
}

} // namespace vigilor::ui
