#include "ui/maprotationdialog.h"

#include "link/link.h"
#include "ui/guard.h"
#include "ui/singleline.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

// Enter in the map field adds the entry; no button of the dialog may take it as its default.
QPushButton* button(const QString& caption, const QString& name, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QToolButton* arrow(Qt::ArrowType type, const QString& caption, const QString& name, QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setArrowType(type);
    b->setText(caption);
    b->setToolTip(caption);
    b->setAccessibleName(caption);
    return b;
}

} // namespace

MapRotationDialog::MapRotationDialog(link::Link& link, ErrorSink* errors, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_link(link), m_errors(errors),
      m_send(button(u"mapRotation küldés"_s, u"SendRotation"_s, this)),
      m_start(button(u"Indítás most"_s, u"StartRotation"_s, this)), m_gameType(new QComboBox(this)),
      m_map(new QLineEdit(this)), m_list(new QListWidget(this)), m_output(new QPlainTextEdit(this))
{
    setObjectName(u"MapRotationForm"_s);
    setWindowTitle(u"mapRotation Generátor"_s);
    setModal(true);
    m_send->setFlat(true);
    m_start->setFlat(true);

    m_gameType->setObjectName(u"GameType"_s);
    m_gameType->setAccessibleName(u"Játékmód"_s);
    m_gameType->setEditable(false);
    for (const tools::MapRotation::GameType& type : tools::MapRotation::gameTypes())
        m_gameType->addItem(type.caption, type.code);
    m_gameType->setCurrentIndex(0);

    m_map->setObjectName(u"MapName"_s);
    keepOnOneLine(m_map);
    auto* mapLabel = new QLabel(u"pálya:"_s, this);
    mapLabel->setObjectName(u"MapNameLabel"_s);
    mapLabel->setBuddy(m_map);

    QPushButton* addButton = button(u">>"_s, u"AddEntry"_s, this);
    QPushButton* removeButton = button(u"<<"_s, u"RemoveEntry"_s, this);
    QToolButton* up = arrow(Qt::UpArrow, u"Fel"_s, u"MoveUp"_s, this);
    QToolButton* down = arrow(Qt::DownArrow, u"Le"_s, u"MoveDown"_s, this);

    m_list->setObjectName(u"RotationList"_s);
    m_list->setAccessibleName(u"mapRotation"_s);
    m_list->setSortingEnabled(false);

    m_output->setObjectName(u"Output"_s);
    m_output->setAccessibleName(u"Output"_s);
    m_output->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_output->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto* top = new QHBoxLayout;
    top->addWidget(m_send);
    top->addWidget(m_start);
    top->addStretch();

    auto* arrows = new QHBoxLayout;
    arrows->addWidget(up);
    arrows->addWidget(down);
    auto* left = new QGridLayout;
    left->addWidget(m_gameType, 0, 0, 1, 2);
    left->addWidget(mapLabel, 1, 0);
    left->addWidget(m_map, 1, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addLayout(arrows);
    buttons->addWidget(addButton);
    buttons->addWidget(removeButton);
    buttons->addStretch();
    left->addLayout(buttons, 2, 1);
    left->setRowStretch(3, 1);

    auto* halves = new QHBoxLayout;
    halves->addLayout(left, 1);
    halves->addWidget(m_list, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(halves, 1);
    layout->addWidget(m_output);
    resize(560, 360);

    ErrorSink* sink = errors;
    connect(addButton, &QPushButton::clicked, this, guard(sink, [this] { add(); }));
    connect(m_map, &QLineEdit::returnPressed, this, guard(sink, [this] { add(); }));
    connect(removeButton, &QPushButton::clicked, this, guard(sink, [this] { remove(); }));
    connect(up, &QToolButton::clicked, this, guard(sink, [this] { move(true); }));
    connect(down, &QToolButton::clicked, this, guard(sink, [this] { move(false); }));
    connect(m_send, &QPushButton::clicked, this,
            guard(sink, [this] { tools::MapRotation::send(m_output->toPlainText(), m_link); }));
    connect(m_start, &QPushButton::clicked, this,
            guard(sink, [this] { tools::MapRotation::startNow(m_link); }));
    refresh(-1);
}

void MapRotationDialog::run(link::Link& link, ErrorSink* errors, QWidget* parent)
{
    MapRotationDialog dialog(link, errors, parent);
    dialog.exec();
}

void MapRotationDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    guarded(m_errors, [this, event] { QDialog::keyPressEvent(event); });
}

void MapRotationDialog::add()
{
    m_rotation.add(m_gameType->currentIndex(), m_map->text());
    refresh(m_list->currentRow());
}

void MapRotationDialog::remove()
{
    if (m_list->currentRow() < 0 || !m_list->currentItem()->isSelected())
        return refresh(m_list->currentRow());
    refresh(m_rotation.remove(m_list->currentRow()));
}

void MapRotationDialog::move(bool up)
{
    const int row =
        m_list->currentItem() && m_list->currentItem()->isSelected() ? m_list->currentRow() : -1;
    const int moved = up ? m_rotation.moveUp(row) : m_rotation.moveDown(row);
    // At the end of the list, or with nothing selected, nothing happens: hand edits of the
    // output stay.
    if (moved != row)
        refresh(moved);
}

void MapRotationDialog::refresh(int selected)
{
    m_list->clear();
    m_list->addItems(m_rotation.entries());
    if (selected >= 0 && selected < m_list->count())
        m_list->setCurrentRow(selected);
    m_send->setEnabled(!m_rotation.isEmpty());
    m_start->setEnabled(!m_rotation.isEmpty());
    // An empty rotation leaves an empty output: with both send buttons disabled, nothing of
    // it could be sent anyway.
    m_output->setPlainText(m_rotation.output());
}

} // namespace vigilor::ui
