#pragma once
// Message service for tests (test support, never linked into a program): records every box and answers
// Yes/No questions from a queue. OK-only boxes are acknowledged by themselves (tests compare boxes() to see
// which ones appeared); a question with no queued answer is a scripting error, and so is an answer left
// unused: problems() lists both, and so is a box that reports an internal failure of the embedded engine.
// A request to end the program is recorded and thrown as ProgramEndRequested. Boxes may be shown from any
// thread.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/MessageService.h"

namespace vopa::ui {

class ScriptedMessageService final : public MessageService {
public:
    // Queues the answer to the next Yes/No question.
    void queueAnswer(Answer answer) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_.push_back(answer);
    }

    Answer show(const MessageBox& box) override;
    [[noreturn]] void endProgram(const MessageBox& box) override;

    // The boxes shown so far (safe to read once the threads that show boxes are done).
    const std::vector<MessageBox>& boxes() const { return boxes_; }
    std::vector<std::string> texts() const;
    bool programEndRequested() const { return endRequested_; }
    void clear();

    // Scripting faults seen so far plus answers left unused; empty when the script matched.
    std::vector<std::string> problems() const;

private:
    std::deque<Answer> answers_;
    std::vector<MessageBox> boxes_;
    std::vector<std::string> faults_;
    bool endRequested_ = false;
    mutable std::mutex mutex_;  // boxes may come from the build's worker thread
};

// Installs a scripted service for the lifetime of the object and restores the previous one after.
class ScopedScriptedMessages {
public:
    ScopedScriptedMessages() : previous_(installMessageService(&service_)) {}
    ~ScopedScriptedMessages() { installMessageService(previous_); }
    ScopedScriptedMessages(const ScopedScriptedMessages&) = delete;
    ScopedScriptedMessages& operator=(const ScopedScriptedMessages&) = delete;
    ScriptedMessageService& operator*() { return service_; }
    ScriptedMessageService* operator->() { return &service_; }

private:
    ScriptedMessageService service_;
    MessageService* previous_;
};

}  // namespace vopa::ui
