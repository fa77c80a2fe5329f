#pragma once
// The base of the program's windows. A window is loaded when the window registry first hands it out,
// runs `activated()` each time it is shown, and is unloaded through the registry (closing it with the
// title bar's button unloads it too).

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

protected:
    // Runs each time the window is shown (after the event that showed it has been handled).
    virtual void activated() {}

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace vopa::app
