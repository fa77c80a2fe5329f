#pragma once
// The registry of loaded windows. A window is created (loaded) the first time it is asked for and
// stays loaded, shown or hidden, until it is unloaded; when the last one is unloaded the program ends.

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "flow/ProgramFlow.h"

namespace vopa::app {

class ProgramWindow;
class StartupWindow;
class MainWindow;
class SignInWindow;
class CompanyWindow;
class BuildWindow;

class Windows : public QObject {
    Q_OBJECT
public:
    static Windows& instance();

    // Each loads its window when it is not loaded; null when its load unloaded it again.
    StartupWindow* startup();
    MainWindow* main();
    SignInWindow* signIn();
    CompanyWindow* company();
    BuildWindow* build();

    // The program's flow the windows drive. Once the last window is unloaded the run is over: the next
    // window loaded starts a new run with a new flow, on the shared state of that moment.
    flow::ProgramFlow& flow();

    // Whether a window of that name is loaded (names compared ignoring case).
    bool isLoaded(const QString& name) const;
    // The loaded window of that name, or null (does not load it).
    ProgramWindow* loaded(const QString& name) const;

    void unload(ProgramWindow* window);
    // Unloads every loaded window, the first loaded first: the program ends.
    void unloadAll();
    // True while unloadAll runs: a window's unload then shows no other window.
    bool ending() const { return ending_; }

signals:
    // The last loaded window was unloaded.
    void allUnloaded();

private:
    template <typename W>
    W* obtain(QPointer<W>& slot);

    QPointer<StartupWindow> startup_;
    QPointer<MainWindow> main_;
    QPointer<SignInWindow> signIn_;
    QPointer<CompanyWindow> company_;
    QPointer<BuildWindow> build_;
    std::vector<QPointer<ProgramWindow>> order_;
    std::unique_ptr<flow::ProgramFlow> flow_;
    bool runEnded_ = false;
    bool ending_ = false;
};

}  // namespace vopa::app
