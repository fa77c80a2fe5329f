#pragma once
// avvio_1: the operator's home. It names the current company and offers three actions: change company,
// build the training database, end the program.

#include "ProgramWindow.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace vopa::app {

class MainWindow : public ProgramWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    void load() override;
    void unloading() override;
    // Closing the operator's home ends the program, as its door button does.
    void closeRequested() override { endProgram(); }

protected:
    void activated() override;

private:
    void changeCompany();
    void openBuild();
    void endProgram();

    QComboBox* combo1_;
    QLineEdit* text1_;
};

}  // namespace vopa::app
