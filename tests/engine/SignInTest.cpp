// The sign-in and the company switch, without windows: the boxes as the operator fills them, the
// messages shown, the rights loaded and where the sign-in goes.

#include <gtest/gtest.h>

#include "company/CompanyOpening.h"
#include "support/ScriptedMessageService.h"
#include "signin/CompanySelection.h"
#include "signin/SignIn.h"
#include "support/FakeSignInClock.h"
#include "support/SmallInstallation.h"
#include "support/TempDrive.h"

using namespace vopa;
using signin::SignInOutcome;
using vopa::testing::SmallInstallation;

namespace {

struct Fixture {
    vopa::testing::TempDrive drive;
    ui::ScopedScriptedMessages messages;
    state::GlobalState g;
    SmallInstallation installation{{{1, "Alfa", "VoPaDatiAlfa"}, {2, "Beta", "VoPaDatiBeta"}}};
    signin::SignInProcedure signIn{g};

    Fixture() {
        g.ComputerName = "PC_UFFICIO";
        for (const char* db : {"VoPaDatiAlfa", "VoPaDatiBeta"}) {
            installation.addUser(db, {"admin", std::string("segreta"), true});
            installation.addUser(db, {"nuovo", std::nullopt});
            installation.addUser(db, {"bloccato", std::string("chiave"), false, true});
            installation.addUser(db, {"o'brien", std::string("irlanda")});
        }
        double id = 1;
        company::openCompany(id, g);
        signIn.load();
        EXPECT_EQ(signIn.activate(), SignInOutcome::Stay);
    }

    SignInOutcome signInWith(const std::string& name, const std::string& password) {
        signIn.boxes.userName = name;
        signIn.userNameEntered();
        signIn.boxes.password = password;
        return signIn.passwordEntered();
    }
};

TEST(SignIn, NormalisesWhatIsTyped) {
    const std::pair<const char*, const char*> cases[] = {
        {"Mario Rossi", "mario_rossi"}, {" Anna ", "_anna_"}, {"ADMIN", "admin"}, {"a,b/c", "a_b_c"}, {"O'Brien", "o_brien"},
        {"x' or '1'='1", "x__or__1___1"}, {"", ""},
    };
    for (const auto& [typed, normalised] : cases) EXPECT_EQ(signin::normalise(typed), normalised) << typed;
}

TEST(SignIn, ACorrectPasswordLoadsTheRightsAndOpensTheMainWindow) {
    Fixture f;
    EXPECT_EQ(f.signInWith("Admin", "SEGRETA"), SignInOutcome::ShowMainWindow);
    EXPECT_EQ(f.signIn.boxes.userName, "admin");
    EXPECT_EQ(f.g.UserRights[state::RightAdministrator], -1);
    EXPECT_EQ(f.g.UserRights[state::RightInsert], -1);
    EXPECT_EQ(f.g.UserRights[state::RightDelete], 0);
    EXPECT_EQ(f.g.UserRights[state::RightProjects], -1);
    EXPECT_EQ(f.g.UserRights[state::RightDisabled], 0);
    EXPECT_TRUE(f.messages->boxes().empty());
}

TEST(SignIn, AWrongPasswordIsNotCounted) {
    Fixture f;
    vopa::testing::FakeSignInClock clock;
    // Wrong in every way, one of them as long as the right one ("segreta").
    for (const char* wrong : {"sbagliata", "segreto", "segret", "segretaa", "atesreg"}) {
        EXPECT_EQ(f.signInWith("admin", wrong), SignInOutcome::Stay) << wrong;
        clock.advance(std::chrono::seconds(30));  // past any wait
    }
    EXPECT_EQ(f.g.AttemptCounter, 0);
    EXPECT_EQ(f.messages->texts(), std::vector<std::string>(5, "Password errata, Riprova!!!"));
    EXPECT_TRUE(f.signIn.boxes.password.empty());
    EXPECT_EQ(f.signIn.boxes.focus, signin::SignInBoxes::Box::Password);
}

TEST(WrongPasswordDelay, WaitsFromTheThirdWrongPasswordInARowDoublingUpToThirtySeconds) {
    vopa::testing::FakeSignInClock clock;
    signin::WrongPasswordDelay delay;
    const long expected[] = {0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000, 30000, 30000};
    for (std::size_t n = 0; n < std::size(expected); ++n) {
        EXPECT_EQ(delay.wrongPassword("admin").count(), expected[n]) << "wrong password " << n + 1;
        EXPECT_EQ(delay.remaining("admin").count(), expected[n]);
        clock.advance(std::chrono::milliseconds(expected[n]));
        EXPECT_EQ(delay.remaining("admin").count(), 0);
    }
}

TEST(WrongPasswordDelay, RunsBelongToOneUserAndEndWithTheRightPassword) {
    using std::chrono::milliseconds;
    struct Step {
        const char* user;
        bool right;
        long waitAfter;    // the wait the step leaves for its user
        long waitOfOther;  // the wait left meanwhile for the other user
    };
    // "anna" has three wrong passwords and a wait; "bruno"'s tries neither share nor shorten it.
    const Step steps[] = {
        {"anna", false, 0, 0},    {"anna", false, 0, 0},     {"bruno", false, 0, 0},
        {"anna", false, 1000, 0}, {"bruno", false, 0, 1000}, {"bruno", true, 0, 1000},
        {"anna", true, 0, 0},     {"anna", false, 0, 0},     {"anna", false, 0, 0},
        {"anna", false, 1000, 0},
    };
    vopa::testing::FakeSignInClock clock;
    signin::WrongPasswordDelay delay;
    for (const Step& step : steps) {
        const std::string other = std::string(step.user) == "anna" ? "bruno" : "anna";
        if (step.right)
            delay.rightPassword(step.user);
        else
            delay.wrongPassword(step.user);
        EXPECT_EQ(delay.remaining(step.user), milliseconds(step.waitAfter)) << step.user;
        EXPECT_EQ(delay.remaining(other), milliseconds(step.waitOfOther)) << other;
    }
    clock.advance(milliseconds(400));
    EXPECT_EQ(delay.remaining("anna"), milliseconds(600));
}

TEST(SignIn, AfterThreeWrongPasswordsTheNextTryWaitsAndChangesNothingElse) {
    Fixture f;
    vopa::testing::FakeSignInClock clock;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(f.signInWith("admin", "sbagliata"), SignInOutcome::Stay);
    EXPECT_EQ(f.signIn.passwordWait(), std::chrono::seconds(1));
    // The right password during the wait is not even looked at: no message, not signed in.
    f.signIn.boxes.password = "segreta";
    EXPECT_EQ(f.signIn.passwordEntered(), SignInOutcome::Stay);
    EXPECT_EQ(f.messages->texts(), std::vector<std::string>(3, "Password errata, Riprova!!!"));
    // Another user does not wait for this one.
    f.signIn.boxes.userName = "bloccato";
    EXPECT_EQ(f.signIn.passwordWait(), std::chrono::milliseconds(0));
    clock.advance(std::chrono::milliseconds(999));
    f.signIn.boxes.userName = "Admin";
    EXPECT_EQ(f.signIn.passwordWait(), std::chrono::milliseconds(1));
    clock.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(f.signInWith("admin", "segreta"), SignInOutcome::ShowMainWindow);
    EXPECT_EQ(f.g.AttemptCounter, 0);
    EXPECT_EQ(f.messages->texts(), std::vector<std::string>(3, "Password errata, Riprova!!!"));
    // The right password ended the run: the next wrong one costs nothing.
    EXPECT_EQ(f.signInWith("admin", "sbagliata"), SignInOutcome::Stay);
    EXPECT_EQ(f.signIn.passwordWait(), std::chrono::milliseconds(0));
}

TEST(SignIn, AFirstPasswordIsConfirmedStoredAndThenUsed) {
    Fixture f;
    EXPECT_EQ(f.signInWith("nuovo", "Primo1"), SignInOutcome::Stay);
    EXPECT_TRUE(f.signIn.boxes.confirmationVisible);
    EXPECT_FALSE(f.signIn.boxes.passwordVisible);
    // A different confirmation starts again, without counting.
    f.signIn.boxes.confirmation = "primo2";
    EXPECT_EQ(f.signIn.confirmationEntered(), SignInOutcome::Stay);
    EXPECT_EQ(f.g.AttemptCounter, 0);
    EXPECT_EQ(f.signInWith("nuovo", "Primo1"), SignInOutcome::Stay);
    f.signIn.boxes.confirmation = "PRIMO1";
    EXPECT_EQ(f.signIn.confirmationEntered(), SignInOutcome::ShowMainWindow);
    EXPECT_EQ(SmallInstallation::scalar("VoPaDatiAlfa", "SELECT PaswUtente FROM AbilitazioneAccessi WHERE NomeUtente = 'nuovo'"),
              "primo1");
    EXPECT_EQ(f.messages->texts(), (std::vector<std::string>{"Immettere la Password", "conferma la Password",
                                                             "Password errata, Riprova!!!", "Immettere la Password",
                                                             "conferma la Password"}));
    f.messages->clear();
    f.signIn.boxes.confirmation.clear();
    EXPECT_EQ(f.signInWith("nuovo", "primo1"), SignInOutcome::ShowMainWindow);
    EXPECT_TRUE(f.messages->boxes().empty());
}

TEST(SignIn, APasswordThatCannotBeStoredKeepsTheOperatorHere) {
    Fixture f;
    SmallInstallation::run("VoPaDatiAlfa", "UPDATE AbilitazioneAccessi SET PaswUtente = NULL WHERE NomeUtente = 'admin'");
    // The password column is gone when the row is saved: the sign-in must not report success.
    f.signInWith("admin", "nuova");
    f.signIn.boxes.confirmation = "nuova";
    SmallInstallation::run("VoPaDatiAlfa", "ALTER TABLE AbilitazioneAccessi DROP COLUMN PaswUtente");
    EXPECT_EQ(f.signIn.confirmationEntered(), SignInOutcome::Stay);
    EXPECT_EQ(f.g.AttemptCounter, 0);
    EXPECT_EQ(f.messages->boxes().size(), 3u);  // the two prompts and the error
}

TEST(SignIn, DisabledOrUnknownUsersAreCountedAndTheFourthFailureCloses) {
    Fixture f;
    EXPECT_EQ(f.signInWith("bloccato", "chiave"), SignInOutcome::Stay);
    EXPECT_EQ(f.g.AttemptCounter, 1);
    EXPECT_EQ(f.messages->texts().back(), signin::notAuthorisedText(f.g));
    // An unknown user setting a first password is refused and counted too.
    f.signInWith("nessuno", "abc");
    f.signIn.boxes.confirmation = "abc";
    EXPECT_EQ(f.signIn.confirmationEntered(), SignInOutcome::Stay);
    EXPECT_EQ(f.messages->texts().back(), "Utente non abilitato! ");
    EXPECT_EQ(f.g.AttemptCounter, 2);
    f.signIn.boxes.confirmation.clear();
    EXPECT_EQ(f.signInWith("bloccato", "chiave"), SignInOutcome::Stay);
    EXPECT_EQ(f.signInWith("bloccato", "chiave"), SignInOutcome::CloseWindow);
    EXPECT_EQ(f.g.AttemptCounter, 4);
    EXPECT_EQ(f.messages->texts().back(), "It is no more possible to try! ");
}

TEST(SignIn, NamesReachTheDatabaseAsData) {
    Fixture f;
    // Quoted, a name with an apostrophe finds its own row and nothing else; the look-up matches the name
    // itself (in any case), so wildcards in a typed name match no other user.
    const std::pair<const char*, const char*> stored[] = {{"o'brien", "irlanda"}, {"x' or '1'='1", ""}, {"adm%", ""},
                                                          {"_dmin", ""}, {"%", ""}, {"[a]dmin", ""}, {"ADMIN", "segreta"}};
    for (const auto& [name, password] : stored) EXPECT_EQ(signin::readStoredPassword(name, f.g), password) << name;
    EXPECT_EQ(f.signInWith("x' or '1'='1", "segreta"), SignInOutcome::Stay);
    EXPECT_EQ(f.g.UserRights[state::RightAdministrator], 0);
    EXPECT_EQ(f.signInWith("O'Brien", "irlanda"), SignInOutcome::Stay);  // typed, the name becomes o_brien
}

TEST(SignIn, ACompanyWithoutUsersSendsBackToTheStartWindow) {
    Fixture f;
    SmallInstallation::run("VoPaDatiAlfa", "DELETE FROM AbilitazioneAccessi");
    EXPECT_EQ(f.signIn.activate(), SignInOutcome::ShowStartWindow);
    EXPECT_EQ(f.g.UserRights[state::RightAdministrator], -1);
    EXPECT_EQ(f.g.UserRights[state::RightProjects], 0);
    // The computer's scratch table was made on the way.
    EXPECT_TRUE(SmallInstallation::hasTable("VoPaDatiAlfa", "TempLggPC_UFFICIO"));
}

TEST(CompanySelection, ListsByNameSwitchesAtOnceAndRegistersOnClosing) {
    Fixture f;
    signin::CompanySelection selection(f.g);
    selection.load();
    ASSERT_EQ(selection.companies().size(), 2u);
    EXPECT_EQ(selection.companies()[0].name, "Alfa");
    EXPECT_EQ(selection.preselectedName(), "Alfa");
    selection.openChosen();  // nothing chosen yet: still Alfa
    selection.choose(2);
    selection.openChosen();
    EXPECT_EQ(f.g.CompanyDatabaseName, "VoPaDatiBeta");
    EXPECT_EQ(SmallInstallation::scalar("VoPaDatiAzienda", "SELECT Ultimo FROM link_programmaTerminale"), "2");
    selection.close();
    EXPECT_EQ(vopa::testing::iniSection(f.drive.odbcUserFile(), "Qen_server")["Database"], "VoPaDatiBeta");
    // The next sign-in works on the new company's users.
    f.signIn.load();
    EXPECT_EQ(f.signIn.activate(), SignInOutcome::Stay);
    EXPECT_EQ(f.signInWith("admin", "segreta"), SignInOutcome::ShowMainWindow);
    EXPECT_EQ(f.g.SharedConnection.execute("SELECT DB_NAME()")->field(0).toString(), "VoPaDatiBeta");
}

}  // namespace
