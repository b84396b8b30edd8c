#pragma once

#include <QWidget>
#include <array>

class QLabel;
class QPushButton;
class QRadioButton;

namespace controls {
class DBList;
}

namespace store {
class DataSource;
}

namespace books {

// The title list group of the books window: the titles of `titles` with their count, the choice
// of the field each entry shows, the edit buttons and the print buttons. The window gives them
// their behaviour.
class TitleList : public QWidget {
    Q_OBJECT
  public:
    TitleList(QWidget* parent, store::DataSource* titles);

    controls::DBList* DBList1;
    QLabel* Label2; // the number of titles
    std::array<QRadioButton*, 3> Option2{};
    QPushButton* CmdNuovo;
    QPushButton* CmdModifica;
    QPushButton* Cmdelimina;
    std::array<QPushButton*, 3> Command1{}; // STAMPA SCHEDA, STAMPA ELENCO, STAMPA ETICHETTE

    // Shows the number of titles, and says it to a screen reader with its meaning.
    void showCount(int count);
    // The group's controls as they are read, for the window's Tab order.
    QList<QWidget*> readingOrder() const;
};

} // namespace books
