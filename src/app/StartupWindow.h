#pragma once
// Avvio: the splash window the program opens first. Once it is on screen it opens the company this
// computer used last (the work of its load, which waits for the window so that the operator sees it
// rather than nothing for the second the opening takes), then runs the start-up maintenance, hands over
// to the sign-in (or, for a company without users, to the main window) and hides itself. It stays
// loaded until the program ends.

#include "ProgramWindow.h"

class QLabel;
class QProgressBar;

namespace vopa::app {

class StartupWindow : public ProgramWindow {
    Q_OBJECT
public:
    explicit StartupWindow(QWidget* parent = nullptr);

    // With nothing else on screen yet (or the sign-in hidden behind it), closing it ends the program.
    void closeRequested() override;
    // Shows "DataBase :   " followed by the company name in Label1.
    void showDatabase(const QString& companyName);

protected:
    void activated() override;

private:
    QLabel* picture_;
    QProgressBar* progress_;
    QLabel* label1_;
    QLabel* version_;
};

}  // namespace vopa::app
