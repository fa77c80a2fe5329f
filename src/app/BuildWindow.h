#pragma once
// creadblocale: the window in which the training database is built. It may only be used from the head
// office's database; while it is open the main window is hidden.

#include "ProgramWindow.h"

class QLabel;
class QProgressBar;

namespace vopa::app {

class BuildWindow : public ProgramWindow {
    Q_OBJECT
public:
    explicit BuildWindow(QWidget* parent = nullptr);

    void unloading() override;

protected:
    void activated() override;

private:
    QProgressBar* progress_;
    QLabel* animation_;
    QLabel* status_;
};

}  // namespace vopa::app
