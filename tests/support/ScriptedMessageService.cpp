#include "support/ScriptedMessageService.h"

namespace vopa::ui {

Answer ScriptedMessageService::show(const MessageBox& box) {
    std::lock_guard<std::mutex> lock(mutex_);
    MessageBox shown = box;
    if (shown.title.empty()) shown.title = standardTitle();
    boxes_.push_back(shown);
    // An internal failure of the embedded engine is a fault of the program, never an expected message.
    if (box.text.find("Internal error of the embedded engine") != std::string::npos)
        faults_.push_back("the engine failed internally: \"" + box.text + "\"");
    if (box.buttons == Buttons::Ok) return Answer::Ok;
    if (answers_.empty()) {
        faults_.push_back("question \"" + box.text + "\" asked with no Yes/No answer queued");
        return Answer::No;
    }
    Answer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void ScriptedMessageService::endProgram(const MessageBox& box) {
    show(box);
    endRequested_ = true;
    throw ProgramEndRequested();
}

std::vector<std::string> ScriptedMessageService::texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> result;
    for (const MessageBox& b : boxes_) result.push_back(b.text);
    return result;
}

void ScriptedMessageService::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.clear();
    boxes_.clear();
    faults_.clear();
    endRequested_ = false;
}

std::vector<std::string> ScriptedMessageService::problems() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> result = faults_;
    if (!answers_.empty()) result.push_back(std::to_string(answers_.size()) + " queued answer(s) left unused");
    return result;
}

}  // namespace vopa::ui
