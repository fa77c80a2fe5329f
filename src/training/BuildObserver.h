#pragma once
// What a training build tells whoever watches it: the window (a progress bar, a status line, the
// animation), the headless build (a line per step) or a test (a record of everything).

#include <string>

namespace vopa::training {

class BuildObserver {
public:
    virtual ~BuildObserver() = default;

    // A step of the build begins ("Aggiornamento database azienda", "Copia tabelle", ...): the
    // `number`-th of `count`.
    virtual void stepStarted(const std::string& step, int number, int count) {
        (void)step;
        (void)number;
        (void)count;
    }
    // The progress bar's new value, out of `maximum`.
    virtual void progress(int value, int maximum) {
        (void)value;
        (void)maximum;
    }
    // The table being worked on: `index` of `count` (both 0 when the step does not count its tables).
    virtual void currentTable(const std::string& table, int index, int count) {
        (void)table;
        (void)index;
        (void)count;
    }
    // A line for the build's record (a failure the build goes on after, a figure).
    virtual void note(const std::string& text) { (void)text; }
    // The animation starts (true) or stops (false).
    virtual void animation(bool running) { (void)running; }
};

}  // namespace vopa::training
