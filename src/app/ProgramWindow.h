#pragma once
// The base of the program's windows. A window is loaded when the window registry first hands it out,
// runs `activated()` each time it is shown, and is unloaded through the registry. Closing it from the
// title bar (its button, Alt+F4) does what the window's own exit button does.

#include <QWidget>

namespace vopa::app {

class ProgramWindow : public QWidget {
    Q_OBJECT
public:
    explicit ProgramWindow(const QString& name, QWidget* parent = nullptr);

    // Runs once, right after the window joined the registry; it may unload the window again.
    virtual void load() {}
    // Runs just before the window leaves the registry.
    virtual void unloading() {}
    // The window is closed from the title bar: by default it unloads.
    virtual void closeRequested();

protected:
    // Runs each time the window is shown (after the event that showed it has been handled).
    virtual void activated() {}

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace vopa::app
