#include "SignInWindow.h"

#include <QApplication>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "Icons.h"
#include "MainWindow.h"
#include "StartupWindow.h"
#include "Windows.h"
#include "platform/sys/SystemInfo.h"

namespace vopa::app {

using signin::SignInBoxes;
using signin::SignInOutcome;
using signin::SignInProcedure;

SignInWindow::SignInWindow(QWidget* parent)
    : ProgramWindow("About", parent), procedure_(Windows::instance().flow().signIn()) {
    setWindowTitle(QString::fromStdString(sys::productName()));
    setMinimumWidth(380);
    auto* layout = new QVBoxLayout(this);
    auto* title = titleLabel(this, "Login");
    layout->addWidget(title);

    auto* form = new QFormLayout;
    auto* userLabel = new QLabel("User Name", this);
    userLabel->setObjectName("lblLabels");
    userName_ = new QLineEdit(this);
    userName_->setObjectName("txtUserName");
    userName_->setMaxLength(25);
    passwordLabel_ = new QLabel("Password :", this);
    passwordLabel_->setObjectName("PswLabels");
    password_ = new QLineEdit(this);
    password_->setObjectName("txtPassword");
    confirmation_ = new QLineEdit(this);
    confirmation_->setObjectName("txtPassword1");
    for (QLineEdit* box : {password_, confirmation_}) {
        box->setEchoMode(QLineEdit::Password);
        box->setMaxLength(static_cast<int>(signin::kMaxPasswordLength));
    }
    confirmation_->setPlaceholderText("conferma la password");
    form->addRow(userLabel, userName_);
    form->addRow(passwordLabel_, password_);
    form->addRow(QString(), confirmation_);
    layout->addLayout(form);

    auto* bottom = new QHBoxLayout;
    const sys::Version v = sys::version();
    auto* version = new QLabel(QString::fromStdString(sys::productName()) + " - Ver.Nr. " +
                                   QString("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision),
                               this);
    version->setObjectName("lblVersion");
    auto* quit = new QPushButton(icons::exitProgram(), QString(), this);
    quit->setObjectName("Command8");
    quit->setIconSize(QSize(32, 32));
    quit->setToolTip("Chiudi il programma");
    bottom->addWidget(version);
    bottom->addStretch();
    bottom->addWidget(quit);
    layout->addLayout(bottom);

    passwordWait_ = new QTimer(this);
    passwordWait_->setObjectName("passwordWait");
    passwordWait_->setSingleShot(true);
    connect(passwordWait_, &QTimer::timeout, this, &SignInWindow::passwordWaitOver);

    for (QLineEdit* box : {userName_, password_, confirmation_}) box->installEventFilter(this);
    connect(quit, &QPushButton::clicked, this, &SignInWindow::closeRequested);
}

void SignInWindow::load() {
    procedure_.load();
    showBoxes();
}

void SignInWindow::unloading() { procedure_.unload(); }

void SignInWindow::closeRequested() { Windows::instance().unloadAll(); }

void SignInWindow::showEvent(QShowEvent* event) {
    // The window comes back after each company switch: its title says which company one signs in to.
    const std::string& company = Windows::instance().flow().state().CompanyName;
    setWindowTitle(QString::fromStdString(company.empty() ? sys::productName() : sys::productName() + " - " + company));
    ProgramWindow::showEvent(event);
}

void SignInWindow::activated() {
    const SignInOutcome outcome = procedure_.activate();
    showBoxes();
    follow(outcome);
}

bool SignInWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (watched == userName_ && enter) {
            run(&SignInProcedure::userNameEntered);
            return true;
        }
        if (watched == password_ && (enter || key == Qt::Key_Tab)) {
            run(&SignInProcedure::passwordEntered);
            return true;
        }
        if (watched == confirmation_ && enter) {
            run(&SignInProcedure::confirmationEntered);
            return true;
        }
    } else if (event->type() == QEvent::FocusIn) {
        // The password box is for a name already typed.
        if (watched == password_ && userName_->text().trimmed().isEmpty()) {
            userName_->setFocus();
            return true;
        }
        if (auto* box = qobject_cast<QLineEdit*>(watched)) box->selectAll();
    }
    return ProgramWindow::eventFilter(watched, event);
}

void SignInWindow::run(SignInOutcome (SignInProcedure::*step)()) {
    SignInBoxes& boxes = procedure_.boxes;
    boxes.userName = userName_->text().toStdString();
    boxes.password = password_->text().toStdString();
    boxes.confirmation = confirmation_->text().toStdString();
    const SignInOutcome outcome = (procedure_.*step)();
    showBoxes();
    follow(outcome);
}

void SignInWindow::showBoxes() {
    const SignInBoxes& boxes = procedure_.boxes;
    userName_->setText(QString::fromStdString(boxes.userName));
    password_->setText(QString::fromStdString(boxes.password));
    confirmation_->setText(QString::fromStdString(boxes.confirmation));
    // After repeated wrong passwords the box stays disabled for the wait the sign-in imposes; the window
    // keeps painting and the name box stays usable meanwhile.
    const std::chrono::milliseconds wait = procedure_.passwordWait();
    const bool waiting = wait > std::chrono::milliseconds{0};
    if (waiting) passwordWait_->start(wait);
    password_->setEnabled(boxes.passwordEnabled && !waiting);
    password_->setVisible(boxes.passwordVisible);
    confirmation_->setEnabled(boxes.confirmationEnabled);
    confirmation_->setVisible(boxes.confirmationVisible);
    if (!boxes.passwordLabel.empty()) passwordLabel_->setText(QString::fromStdString(boxes.passwordLabel));
    QLineEdit* focus = boxes.focus == SignInBoxes::Box::UserName   ? userName_
                       : boxes.focus == SignInBoxes::Box::Password ? password_
                                                                   : confirmation_;
    if (focus == password_ && waiting) focus = userName_;
    if (focus->isEnabled()) focus->setFocus();
}

void SignInWindow::passwordWaitOver() {
    const std::chrono::milliseconds wait = procedure_.passwordWait();
    if (wait > std::chrono::milliseconds{0}) {
        passwordWait_->start(wait);
        return;
    }
    password_->setEnabled(procedure_.boxes.passwordEnabled);
    if (password_->isEnabled() && password_->isVisible() && procedure_.boxes.focus == SignInBoxes::Box::Password)
        password_->setFocus();
}

void SignInWindow::follow(SignInOutcome outcome) {
    switch (outcome) {
        case SignInOutcome::Stay: break;
        case SignInOutcome::ShowMainWindow:
            // The window stays loaded behind the main window: the password does not stay in it.
            procedure_.boxes.password.clear();
            procedure_.boxes.confirmation.clear();
            password_->clear();
            confirmation_->clear();
            if (MainWindow* main = Windows::instance().main()) main->show();
            hide();
            break;
        case SignInOutcome::ShowStartWindow:
            hide();
            if (StartupWindow* startup = Windows::instance().startup()) startup->show();
            break;
        case SignInOutcome::CloseWindow:
            // Locked out: with the sign-in gone nothing is left to work with, so the program ends.
            Windows::instance().unloadAll();
            break;
    }
}

}  // namespace vopa::app
