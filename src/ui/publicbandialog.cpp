#include "ui/publicbandialog.h"

#include "exchange/publicbanlist.h"
#include "exchange/services.h"
#include "link/dialogs.h"
#include "ui/guard.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

using exchange::PublicBanList;

PublicBanDialog::PublicBanDialog(exchange::Services& services, ErrorSink& errors, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_errors(errors),
      m_model(new PublicBanList(services, this)), m_ownLines(new QStringListModel(this)),
      m_publicLines(new QStringListModel(this))
{
    setObjectName(u"PublicBanForm"_s);
    setWindowTitle(PublicBanList::kTitle);
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(addressGroup());
    layout->addWidget(listsRow(), 1);
    auto* buttons = new QHBoxLayout;
    m_ok = new QPushButton(u"OK"_s, this);
    m_ok->setObjectName(u"OKButton"_s);
    m_cancel = new QPushButton(u"Mégse"_s, this);
    m_cancel->setObjectName(u"CancelButton"_s);
    for (QPushButton* button : {m_ok, m_cancel})
        button->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);
    resize(640, 440);

    PublicBanList& model = *m_model;
    connect(m_ok, &QPushButton::clicked, this, guard(&errors, [this] { accept(); }));
    connect(m_cancel, &QPushButton::clicked, this, guard(&errors, [this] { reject(); }));
    connect(&model, &PublicBanList::captionChanged, this, &QWidget::setWindowTitle);
    connect(&model, &PublicBanList::enablingChanged, this,
            guard(&errors, [this] { showEnabling(); }));
    connect(&model, &PublicBanList::busyChanged, this, guard(&errors, [this] { showEnabling(); }));
    connect(&model, &PublicBanList::downloadAddressChanged, this,
            guard(&errors, [this](const QString& text) {
                if (m_downloadField->text() != text)
                    m_downloadField->setText(text);
            }));
    connect(&model, &PublicBanList::uploadAddressChanged, this,
            guard(&errors, [this](const QString& text) {
                if (m_uploadField->text() != text)
                    m_uploadField->setText(text);
            }));

    model.open();
    showEnabling();
    m_downloadField->setFocus();
}

PublicBanDialog::~PublicBanDialog() = default;

QWidget* PublicBanDialog::addressGroup()
{
    auto* box = new QGroupBox(u"Lista helye"_s, this);
    box->setObjectName(u"ListPlace"_s);
    auto* grid = new QGridLayout(box);
    const auto addRow = [&](int row, const QString& caption, const QString& fieldName,
                            const QString& buttonCaption, const QString& buttonName,
                            QLineEdit*& field, QPushButton*& button) {
        field = new QLineEdit(box);
        field->setObjectName(fieldName);
        auto* label = new QLabel(caption, box);
        label->setObjectName(fieldName + u"Label"_s);
        label->setBuddy(field);
        button = new QPushButton(buttonCaption, box);
        button->setObjectName(buttonName);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        grid->addWidget(button, row, 2);
    };
    addRow(0, u"Banlista Link:"_s, u"BanListLink"_s, u"Letöltés"_s, u"DownloadButton"_s,
           m_downloadField, m_download);
    addRow(1, u"Feltöltési cím (user:pass@host):"_s, u"UploadAddress"_s, u"Feltölt"_s,
           u"UploadButton"_s, m_uploadField, m_upload);
    // Enter anywhere in the window downloads.
    m_download->setDefault(true);
    m_upload->setAutoDefault(false);

    // Every change of a field evaluates the enabling rule: typed, pasted, set by the program or
    // through the accessibility interface (dictation, on-screen keyboards).
    PublicBanList& model = *m_model;
    connect(m_downloadField, &QLineEdit::textChanged, this,
            guard(&m_errors, [&model](const QString& text) { model.setDownloadAddress(text); }));
    connect(m_uploadField, &QLineEdit::textChanged, this,
            guard(&m_errors, [&model](const QString& text) { model.setUploadAddress(text); }));
    connect(m_download, &QPushButton::clicked, this,
            guard(&m_errors, [&model] { model.download(); }));
    connect(m_upload, &QPushButton::clicked, this, guard(&m_errors, [&model] { model.upload(); }));
    return box;
}

QListView* PublicBanDialog::listView(const QString& name, const QString& accessibleName,
                                     QStringListModel* lines)
{
    auto* view = new QListView(this);
    view->setObjectName(name);
    view->setAccessibleName(accessibleName);
    view->setModel(lines);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setUniformItemSizes(true);
    return view;
}

QWidget* PublicBanDialog::listsRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    QListView* own = listView(u"OwnList"_s, u"Saját lista"_s, m_ownLines);
    QListView* theirs = listView(u"PublicList"_s, u"Nyilvános lista"_s, m_publicLines);
    bindList(own, m_ownLines, true);
    bindList(theirs, m_publicLines, false);

    PublicBanList& model = *m_model;
    auto* middle = new QVBoxLayout;
    middle->addStretch();
    const auto addButton = [&](const QString& caption, const QString& name, auto action) {
        auto* button = new QPushButton(caption, row);
        button->setObjectName(name);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, guard(&m_errors, action));
        middle->addWidget(button);
    };
    addButton(u"<<"_s, u"CopyAllToOwn"_s, [&model] { model.copyAllToOwn(); });
    addButton(u"<"_s, u"CopyToOwn"_s, [&model] { model.mergeToOwn(); });
    addButton(u">"_s, u"CopyToPublic"_s, [&model] { model.mergeToPublic(); });
    addButton(u">>"_s, u"CopyAllToPublic"_s, [&model] { model.copyAllToPublic(); });
    middle->addStretch();

    theirs->installEventFilter(this);
    m_publicView = theirs;

    layout->addWidget(own, 1);
    layout->addLayout(middle);
    layout->addWidget(theirs, 1);
    return row;
}

// The view shows the engine's list and selection; the operator's selection goes to the engine.
// The selection model's signals stay on, so that the view repaints the rows whose selection
// changed (and tells screen readers); their echo to the engine changes nothing.
void PublicBanDialog::bindList(QListView* view, QStringListModel* lines, bool own)
{
    PublicBanList& model = *m_model;
    const auto showRow = [view, lines](int row) {
        if (row < 0) {
            view->selectionModel()->clearSelection();
            view->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
            return;
        }
        const QModelIndex index = lines->index(row);
        view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        view->scrollTo(index);
    };
    const auto showLines = [&model, lines, own, showRow] {
        const QStringList& shown = own ? model.ownLines() : model.publicLines();
        if (lines->stringList() != shown)
            lines->setStringList(shown);
        showRow(own ? model.ownRow() : model.publicRow());
    };
    connect(&model, own ? &PublicBanList::ownLinesChanged : &PublicBanList::publicLinesChanged,
            this, guard(&m_errors, showLines));
    connect(&model, own ? &PublicBanList::ownRowChanged : &PublicBanList::publicRowChanged, this,
            guard(&m_errors, showRow));
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            guard(&m_errors, [&model, own](const QModelIndex& current) {
                const int row = current.isValid() ? current.row() : -1;
                if (own)
                    model.selectOwn(row);
                else
                    model.selectPublic(row);
            }));
    showLines();
}

// The Delete key in the public list removes its selected line.
bool PublicBanDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_publicView && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Delete)) {
        guarded(&m_errors, [this] { m_model->removePublicLine(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void PublicBanDialog::showEnabling()
{
    m_download->setEnabled(m_model->downloadEnabled());
    m_upload->setEnabled(m_model->uploadEnabled());
    // Nothing is handed over under a running transfer; "Mégse" cancels it.
    m_ok->setEnabled(!m_model->busy());
}

void PublicBanDialog::accept()
{
    if (m_model->busy())
        return;
    m_model->handOver();
    closeWith(Accepted);
}

// "Mégse", Escape and the window's close: a running transfer stops, and the window closes with
// the lists as they were before it.
void PublicBanDialog::reject()
{
    m_model->cancelTransfer();
    closeWith(Rejected);
}

void PublicBanDialog::closeWith(int result)
{
    try {
        m_model->storeAddresses();
    } catch (const FileError& e) {
        // The settings file could not be written: said on the console, the window closes.
        m_errors.reportError(e);
    } catch (const std::exception& e) {
        // An upload address too long to be stored: the window stays until it is shortened.
        m_errors.reportError(e);
        return;
    }
    done(result);
}

void PublicBanDialog::openFrom(exchange::Services& services, Dialogs& dialogs, ErrorSink& errors,
                               QWidget* parent)
{
    PublicBanDialog dialog(services, errors, parent);
    if (dialog.exec() == Accepted)
        dialogs.message(kUpdatedMessage);
}

} // namespace vigilor::ui
