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
    event->ignore();
    Windows::instance().unload(this);
}

}  // namespace vopa::app
