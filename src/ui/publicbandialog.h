#pragma once

#include <QDialog>

class QLineEdit;
class QListView;
class QPushButton;
class QStringListModel;

namespace vigilor {
class Dialogs;
class ErrorSink;
namespace exchange {
class PublicBanList;
struct Services;
} // namespace exchange
} // namespace vigilor

namespace vigilor::ui {

// "Nyilvános banlista": the operator's own ban list beside a public one, with the download and
// upload addresses, bound to a public ban list instance of the engine. Created for each opening
// and discarded when closed. Closing, either way, stores both addresses; an upload address too
// long to be stored keeps the window open.
class PublicBanDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PublicBanDialog)

public:
    static inline const QString kUpdatedMessage = QStringLiteral("Banlista frissítve!");

    PublicBanDialog(exchange::Services& services, ErrorSink& errors, QWidget* parent = nullptr);
    ~PublicBanDialog() override;

    exchange::PublicBanList& model() const { return *m_model; }

    // "[Nyilvános banlista]": the window, modal; "Banlista frissítve!" after OK.
    static void openFrom(exchange::Services& services, Dialogs& dialogs, ErrorSink& errors,
                         QWidget* parent);

public slots:
    void accept() override; // OK
    void reject() override; // "Mégse", Escape

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* addressGroup();
    QWidget* listsRow();
    QListView* listView(const QString& name, const QString& accessibleName,
                        QStringListModel* lines);
    void bindList(QListView* view, QStringListModel* lines, bool own);
    void showEnabling();
    void closeWith(int result);

    ErrorSink& m_errors;
    exchange::PublicBanList* m_model;
    QLineEdit* m_downloadField = nullptr;
    QLineEdit* m_uploadField = nullptr;
    QPushButton* m_download = nullptr;
    QPushButton* m_upload = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QListView* m_publicView = nullptr;
    QStringListModel* m_ownLines;
    QStringListModel* m_publicLines;
};

} // namespace vigilor::ui
