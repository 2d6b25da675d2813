#pragma once

#include <QWidget>

class QPushButton;

namespace vigilor {
class ErrorSink;
}
namespace vigilor::link {
class ConsoleSearch;
}

namespace vigilor::ui {

// The tab "Keresés": the search field, its three switches and two buttons above the result box,
// bound to the console search. Enter anywhere on the tab (but on "Törlés") runs the search.
class SearchTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchTab)

public:
    SearchTab(link::ConsoleSearch& search, ErrorSink* errors, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    ErrorSink* m_errors;
    QPushButton* m_searchButton;
};

} // namespace vigilor::ui
