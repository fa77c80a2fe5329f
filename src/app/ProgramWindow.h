#pragma once
// The base of the program's windows. A window is loaded when the window registry first hands it out,
// runs `activated()` each time it is shown (once it is on screen), and is unloaded through the registry. Closing it from the
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
    // Shown, but its activation has not run yet.
    bool activationPending() const { return activationDue_; }

protected:
    // Runs each time the window is shown, after it has been painted: activation work blocks the window's
    // thread, and the operator is to see the window, not an empty frame, while it runs.
    virtual void activated() {}

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void activateIfDue(int show);

    int shows_ = 0;  // numbers the shows, so that a timer left from an earlier show does nothing
    bool activationDue_ = false;
};

}  // namespace vopa::app
