#include <gtest/gtest.h>

#include "platform/sys/SystemInfo.h"
#include "support/ScriptedMessageService.h"

namespace ui = vopa::ui;

namespace {

TEST(ScriptedMessages, RecordsBoxesAndAnswersQuestionsFromTheQueue) {
    ui::ScopedScriptedMessages script;
    script->queueAnswer(ui::Answer::Yes);
    script->queueAnswer(ui::Answer::No);

    ui::messages().message("Operazione completata");
    EXPECT_TRUE(ui::messages().ask("Sei sicuro di voler creare il DB?"));
    ui::messages().warning("Attenzione", "Titolo");
    EXPECT_FALSE(ui::messages().ask("Ancora?"));

    const std::vector<ui::MessageBox> expected = {
        {"Operazione completata", vopa::sys::productName(), ui::Buttons::Ok, ui::Icon::None},
        {"Sei sicuro di voler creare il DB?", vopa::sys::productName(), ui::Buttons::YesNo, ui::Icon::None},
        {"Attenzione", "Titolo", ui::Buttons::Ok, ui::Icon::Exclamation},
        {"Ancora?", vopa::sys::productName(), ui::Buttons::YesNo, ui::Icon::None},
    };
    EXPECT_EQ(script->boxes(), expected);
    EXPECT_TRUE(script->problems().empty());
}

TEST(ScriptedMessages, ReportsScriptingFaultsAndInternalFailuresOfTheEngine) {
    ui::ScriptedMessageService service;
    service.show({"unexpected question", "", ui::Buttons::YesNo, ui::Icon::None});
    EXPECT_EQ(service.problems().size(), 1u);
    service.clear();
    service.queueAnswer(ui::Answer::Yes);
    service.show({"ok box", "", ui::Buttons::Ok, ui::Icon::None});
    EXPECT_EQ(service.problems(), std::vector<std::string>{"1 queued answer(s) left unused"});
    service.clear();
    service.show({"Errore 208: Invalid object name 'x'.", "", ui::Buttons::Ok, ui::Icon::Exclamation});
    EXPECT_TRUE(service.problems().empty());
    service.show({"Errore 50000: Internal error of the embedded engine: no such column", "", ui::Buttons::Ok,
                  ui::Icon::Exclamation});
    ASSERT_EQ(service.problems().size(), 1u);
    EXPECT_NE(service.problems()[0].find("no such column"), std::string::npos);
}

TEST(ScriptedMessages, EndOfProgramIsObservableAndStopsTheCaller) {
    ui::ScopedScriptedMessages script;
    bool continued = false;
    EXPECT_THROW(
        {
            ui::messages().endProgramAfter("Nessun database caricato");
            continued = true;
        },
        ui::ProgramEndRequested);
    EXPECT_FALSE(continued);
    EXPECT_TRUE(script->programEndRequested());
    EXPECT_EQ(script->texts(), std::vector<std::string>{"Nessun database caricato"});
}

TEST(ScriptedMessages, NoServiceRefusesBoxesInsteadOfBlocking) {
    EXPECT_THROW(ui::messages().message("nobody can answer"), std::logic_error);
}

}  // namespace

#include <sstream>

#include "platform/ui/ConsoleMessageService.h"

namespace {

TEST(ConsoleMessages, WriteBoxesAndAnswerQuestionsAsConfigured) {
    std::ostringstream out;
    ui::ConsoleMessageService console(out, ui::Answer::Yes);
    ui::MessageService* previous = ui::installMessageService(&console);
    ui::messages().message("Copia completata");
    EXPECT_TRUE(ui::messages().ask("Sei sicuro di voler creare il DB?", "Titolo"));
    ui::installMessageService(previous);
    EXPECT_EQ(out.str(), "[" + vopa::sys::productName() + "] Copia completata\n[Titolo] Sei sicuro di voler creare il DB? -> Yes\n");
}

}  // namespace
