#pragma once

#include <QDialog>
#include <QString>

#include <optional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

// "Archivio sul server": where an archive on a PostgreSQL server is (server, port, database, user
// and how the connection is protected). Never asks for a password: that is asked when the archive
// is opened, and kept only for the run.
class FrmServer : public QDialog {
    Q_OBJECT
  public:
    // `initial`, an address, fills the fields (its password, if any, is left out).
    explicit FrmServer(QWidget* parent = nullptr, const QString& initial = {});

    // The address the fields give, without any password.
    QString address() const;

    // Shows the dialog modally: the address on OK, nothing on Annulla.
    static std::optional<QString> ask(QWidget* parent, const QString& initial = {});

    QLineEdit* TxtServer;
    QSpinBox* TxtPorta;
    QLineEdit* TxtDatabase;
    QLineEdit* TxtUtente;
    QComboBox* CmbConnessione; // sslmode
    QPushButton* CmdOK;
    QPushButton* CmdAnnulla;

  public slots:
    // Refuses a missing database, which libpq would take to be the user's name.
    void accept() override;

  private:
    QString m_options; // libpq's other parameters of `initial`, kept as they were
};

namespace shell {

// The modal password question for `shownAddress` ("Password per …", the text hidden as it is
// typed): the password, or nothing on Annulla.
std::optional<QString> askPassword(QWidget* parent, const QString& shownAddress);

// Makes askPassword the store's password prompt, asked on the user-interface thread whichever
// thread opens the archive; an empty prompt again with `on` false.
void installPasswordPrompt(bool on = true);

} // namespace shell
