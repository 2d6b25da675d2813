#pragma once

#include "tools/maprotation.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace vigilor {
class ErrorSink;
}
namespace vigilor::link {
class Link;
}

namespace vigilor::ui {

// "[mapRotation Generátor]": composes the rotation from game type and map pairs, shows the two
// commands it gives in an editable output, sends them as they stand and starts the rotation.
// Made for each use and discarded when closed; it closes from its title bar only.
class MapRotationDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MapRotationDialog)

public:
    MapRotationDialog(link::Link& link, ErrorSink* errors, QWidget* parent = nullptr);

    // The menu item: the dialog, modal, until it is closed.
    static void run(link::Link& link, ErrorSink* errors, QWidget* parent);

protected:
    // Escape, which would close a dialog and discard the rotation with it, does nothing here:
    // the dialog closes from its title bar only.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void add();
    void remove();
    void move(bool up);
    // Shows the list with `selected` selected, rebuilds the output and sets the send buttons.
    void refresh(int selected);

    link::Link& m_link;
    ErrorSink* m_errors;
    tools::MapRotation m_rotation;
    QPushButton* m_send;
    QPushButton* m_start;
    QComboBox* m_gameType;
    QLineEdit* m_map;
    QListWidget* m_list;
    QPlainTextEdit* m_output;
};

} // namespace vigilor::ui
