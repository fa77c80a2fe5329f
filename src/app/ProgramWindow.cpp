#include "ProgramWindow.h"

#include <QCloseEvent>
#include <QTimer>

#include "Windows.h"

namespace vopa::app {

ProgramWindow::ProgramWindow(const QString& name, QWidget* parent) : QWidget(parent) { setObjectName(name); }

namespace {

// A window the system never exposes (one started minimised) gets no paint: it is activated after this.
constexpr int kUnpaintedActivationMs = 500;

}  // namespace

void ProgramWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    const int show = ++shows_;
    activationDue_ = true;
    QTimer::singleShot(kUnpaintedActivationMs, this, [this, show] { activateIfDue(show); });
}

void ProgramWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    activationDue_ = false;
}

void ProgramWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // The painted window reaches the screen when this round of paint events ends; the activation comes
    // after it.
    if (activationDue_) QTimer::singleShot(0, this, [this, show = shows_] { activateIfDue(show); });
}

void ProgramWindow::activateIfDue(int show) {
    if (show != shows_ || !activationDue_ || !isVisible()) return;
    activationDue_ = false;
    activated();
}

void ProgramWindow::closeEvent(QCloseEvent* event) {
    // The registry decides what goes and what stays: Qt's own close would leave the window loaded.
    event->ignore();
    closeRequested();
}

void ProgramWindow::closeRequested() { Windows::instance().unload(this); }

}  // namespace vopa::app
