#pragma once

#include <atomic>
// creadblocale: the window in which the training database is built. It may only be used from the head
// office's database; while it is open the main window is hidden. The build runs on a worker thread, so
// the window keeps repainting its progress bar, status line and animation.

#include <QThread>
#include <memory>

#include "ProgramWindow.h"
#include "training/BuildDriver.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vopa::ui {
class AnimationControl;
}

namespace vopa::app {

class BuildWindow : public ProgramWindow {
    Q_OBJECT
public:
    explicit BuildWindow(QWidget* parent = nullptr);
    ~BuildWindow() override;

    void unloading() override;
    // As Command4: back to the main window. During a build it asks whether to stop it; a stopped build
    // ends after the statement that is running, and the window then closes.
    void closeRequested() override;
    bool building() const { return worker_ != nullptr; }

    // The copy step the build runs (the window's default copies nothing).
    void setCopyStep(training::CopyStep copy) { options_.copy = std::move(copy); }

signals:
    // The build ended (after its last box), with its outcome.
    void buildFinished(int outcome);

protected:
    void activated() override;

private:
    class Observer;
    void startBuild();
    void buildEnded(training::BuildResult result);
    void showStep(const QString& step);
    void showTable(const QString& table, int index, int count);
    void startAnimation();
    void stopAnimation();

    QProgressBar* progress_;
    ui::AnimationControl* animation_;
    QLabel* status_;
    QPushButton* build_;
    QPushButton* close_;
    QCheckBox* anonymise_;  // the copy's personal data replaced by pseudonyms
    QString step_;
    training::BuildOptions options_{training::standardCopyStep()};
    std::unique_ptr<Observer> observer_;
    QThread* worker_ = nullptr;
    std::atomic<bool> stop_{false};
    bool closeAfterBuild_ = false;
};

}  // namespace vopa::app
