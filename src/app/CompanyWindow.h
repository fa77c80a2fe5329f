#pragma once
// Avvio_Azienda ("Gestione azienda"): the list of the registry's companies. Picking one switches the
// program to it at once; closing the window leads back to the sign-in, because users and rights live in
// the company database.

#include "ProgramWindow.h"

class QComboBox;
class QPushButton;

namespace vopa::app {

class CompanyWindow : public ProgramWindow {
    Q_OBJECT
public:
    explicit CompanyWindow(QWidget* parent = nullptr);

    void load() override;
    void unloading() override;
    // As cmdClose: the chosen company's data sources are registered and the sign-in comes back.
    void closeRequested() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void picked(int index);
    void openPending();

    QComboBox* list_;
    QPushButton* close_;
    bool chosen_ = false;   // the operator picked a company in the list
    bool pending_ = false;  // a company was picked and is not opened yet
    double chosenId_ = 0;   // the company picked last
};

}  // namespace vopa::app
