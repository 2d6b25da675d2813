#include "ui/searchtab.h"

#include "link/search.h"
#include "ui/guard.h"
#include "ui/linesview.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vigilor::ui {

namespace {

void whiteOnTeal(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, QColor(0x00, 0x80, 0x80));
    palette.setColor(QPalette::Text, Qt::white);
    widget->setPalette(palette);
}

} // namespace

SearchTab::SearchTab(link::ConsoleSearch& search, ErrorSink* errors, QWidget* parent)
    : QWidget(parent), m_errors(errors), m_searchButton(new QPushButton(u"Keresés"_s, this))
{

    auto* needle = new QLineEdit(search.needle(), this);
    needle->setObjectName(u"Edit7"_s);
    QFont bold = needle->font();
    bold.setBold(true);
    needle->setFont(bold);
    whiteOnTeal(needle);
    connect(needle, &QLineEdit::textChanged, this,
            guard(errors, [&search](const QString& text) { search.setNeedle(text); }));
    connect(&search, &link::ConsoleSearch::needleChanged, needle,
            guard(errors, [needle](const QString& text) {
                if (needle->text() != text)
                    needle->setText(text);
            }));

    using Setter = void (link::ConsoleSearch::*)(bool);
    const auto switchBox = [&](const QString& name, const QString& caption, bool on, Setter set) {
        auto* box = new QCheckBox(caption, this);
        box->setObjectName(name);
        box->setChecked(on);
        connect(box, &QCheckBox::toggled, this,
                guard(errors, [&search, set](bool checked) { (search.*set)(checked); }));
        return box;
    };
    QCheckBox* reverse = switchBox(u"CheckBox21"_s, u"Fordított keresés"_s, search.reverse(),
                                   &link::ConsoleSearch::setReverse);
    QCheckBox* caseSensitive =
        switchBox(u"CheckBox22"_s, u"Kis- / nagybetű megkülönböztetés"_s, search.caseSensitive(),
                  &link::ConsoleSearch::setCaseSensitive);
    QCheckBox* within = switchBox(u"CheckBox23"_s, u"Keresés az eredmények között"_s,
                                  search.withinResults(), &link::ConsoleSearch::setWithinResults);
    connect(&search, &link::ConsoleSearch::withinResultsChanged, within,
            guard(errors, [within](bool on) { within->setChecked(on); }));

    m_searchButton->setObjectName(u"SearchBtn"_s);
    m_searchButton->setDefault(true);
    connect(m_searchButton, &QPushButton::clicked, this,
            guard(errors, [&search] { search.run(); }));
    // The search lets window events run; meanwhile only "Törlés" may end it.
    connect(&search, &link::ConsoleSearch::searchingChanged, m_searchButton,
            guard(errors, [this](bool searching) { m_searchButton->setEnabled(!searching); }));
    auto* clear = new QPushButton(u"Törlés"_s, this);
    clear->setObjectName(u"Button7"_s);
    clear->setAutoDefault(true); // Enter on it clears rather than searches
    connect(clear, &QPushButton::clicked, this, guard(errors, [&search] { search.clear(); }));

    // The result box shows the search's own result lines, from the first one.
    auto* results = new LinesView(errors, this);
    results->setObjectName(u"Search"_s);
    results->setAccessibleName(u"Találatok"_s);
    results->setLines(&search.results());
    results->setCaret({});
    connect(&search, &link::ConsoleSearch::resultsChanged, results, guard(errors, [results] {
        results->linesReset();
        results->setCaret({});
    }));

    auto* top = new QHBoxLayout;
    top->addWidget(needle, 1);
    top->addWidget(m_searchButton);
    top->addWidget(clear);
    auto* switches = new QHBoxLayout;
    switches->addWidget(reverse);
    switches->addWidget(caseSensitive);
    switches->addWidget(within);
    switches->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(switches);
    layout->addWidget(results, 1);
}

// Keys the focused control leaves alone reach the tab: Enter is the default button's.
void SearchTab::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        m_searchButton->isEnabled()) {
        guarded(m_errors, [this] { m_searchButton->click(); });
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vigilor::ui
