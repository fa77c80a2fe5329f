#include "Windows.h"

#include <algorithm>

#include "BuildWindow.h"
#include "CompanyWindow.h"
#include "MainWindow.h"
#include "SignInWindow.h"
#include "StartupWindow.h"
#include "state/GlobalState.h"

namespace vopa::app {

Windows& Windows::instance() {
    static Windows windows;
    return windows;
}

template <typename W>
W* Windows::obtain(QPointer<W>& slot) {
    // An unloaded window may still exist until its deletion is processed: it is not loaded any more.
    const bool loadedNow = slot && std::find(order_.begin(), order_.end(), slot.data()) != order_.end();
    if (!loadedNow) {
        // A window loaded after the last one was unloaded starts a new run of the program, with a new
        // flow; so does one loaded after the shared state was replaced.
        if (!flow_ || runEnded_ || &flow_->state() != &state::globals()) {
            flow_ = std::make_unique<flow::ProgramFlow>(state::globals());
            runEnded_ = false;
        }
        slot = new W();
        order_.emplace_back(slot.data());
        slot->load();
    }
    return slot.data();
}

flow::ProgramFlow& Windows::flow() {
    if (!flow_) flow_ = std::make_unique<flow::ProgramFlow>(state::globals());
    return *flow_;
}

StartupWindow* Windows::startup() { return obtain(startup_); }
MainWindow* Windows::main() { return obtain(main_); }
SignInWindow* Windows::signIn() { return obtain(signIn_); }
CompanyWindow* Windows::company() { return obtain(company_); }
BuildWindow* Windows::build() { return obtain(build_); }

ProgramWindow* Windows::loaded(const QString& name) const {
    for (const QPointer<ProgramWindow>& w : order_)
        if (w && w->objectName().compare(name, Qt::CaseInsensitive) == 0) return w.data();
    return nullptr;
}

bool Windows::isLoaded(const QString& name) const { return loaded(name) != nullptr; }

void Windows::unload(ProgramWindow* window) {
    auto it = std::find(order_.begin(), order_.end(), window);
    if (!window || it == order_.end()) return;
    order_.erase(it);
    window->unloading();
    window->hide();
    window->deleteLater();
    if (std::none_of(order_.begin(), order_.end(), [](const QPointer<ProgramWindow>& w) { return !w.isNull(); })) {
        runEnded_ = true;
        emit allUnloaded();
    }
}

void Windows::unloadAll() {
    ending_ = true;
    while (!order_.empty()) {
        QPointer<ProgramWindow> first = order_.front();
        if (first)
            unload(first.data());
        else
            order_.erase(order_.begin());
    }
    ending_ = false;
}

}  // namespace vopa::app
