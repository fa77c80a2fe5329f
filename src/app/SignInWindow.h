#pragma once
// About: the sign-in. The operator types a user name and a password (a user without one sets it, typing
// it twice); the flow's sign-in step decides, this window shows the boxes it asks for and goes where
// the step says.

#include <memory>

#include "ProgramWindow.h"
#include "signin/SignIn.h"

class QLabel;
class QLineEdit;
class QTimer;

namespace vopa::app {

class SignInWindow : public ProgramWindow {
    Q_OBJECT
public:
    explicit SignInWindow(QWidget* parent = nullptr);

    void load() override;
    void unloading() override;
    // Closing the sign-in ends the program, as its exit button does.
    void closeRequested() override;

protected:
    void showEvent(QShowEvent* event) override;
    void activated() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Reads the boxes into the procedure, runs `step`, shows the boxes again and goes where it says.
    void run(signin::SignInOutcome (signin::SignInProcedure::*step)());
    void showBoxes();
    // The wait after wrong passwords is over: the password box is usable again.
    void passwordWaitOver();
    void follow(signin::SignInOutcome outcome);

    signin::SignInProcedure& procedure_;  // the flow's sign-in step, driven key by key
    QLineEdit* userName_;
    QLineEdit* password_;
    QLineEdit* confirmation_;
    QLabel* passwordLabel_;
    QTimer* passwordWait_;
};

}  // namespace vopa::app
