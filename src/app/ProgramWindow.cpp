#include "ProgramWindow.h"

#include <QCloseEvent>
#include <QTimer>

#include "Windows.h"

namespace vopa::app {

ProgramWindow::ProgramWindow(const QString& name, QWidget* parent) : QWidget(parent) { setObjectName(name); }

void ProgramWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The window is on screen (and repainted) before its activation work starts.
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) activated();
    });
}

void ProgramWindow::closeEvent(QCloseEvent* event) {
    // The registry decides what goes and what stays: Qt's own close would leave the window loaded.
    event->ignore();
    closeRequested();
}

void ProgramWindow::closeRequested() { Windows::instance().unload(this); }

}  // namespace vopa::app
