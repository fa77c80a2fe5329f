#pragma once
// The sign-in: an operator is admitted by user name and password against AbilitazioneAccessi of the
// company database, a user without a password sets one, and the operator's rights are loaded. The
// window shows `boxes` and calls one method per key the operator presses; the method says where to go.
//
// Names and passwords are normalised as typed (punctuation and blanks to "_", lower case, trimmed) and
// reach the database as quoted values only.

#include <chrono>
#include <string>

#include "WrongPasswordDelay.h"
#include "state/GlobalState.h"

namespace vopa::signin {

// The longest password PaswUtente holds.
inline constexpr std::size_t kMaxPasswordLength = 12;
// Counted failures that close the sign-in.
inline constexpr double kMaxAttempts = 4;

// Punctuation and blanks become "_", letters lower case, outer blanks removed.
std::string normalise(std::string text);

// The stored password of a user (the first name matching by LIKE), empty when none or no such user.
std::string readStoredPassword(const std::string& userName, state::GlobalState& g);

// Whether the company database's AbilitazioneAccessi has rows (also true when it cannot be read, so
// that an unreadable user table never lets anyone in without a sign-in). Without rows, the operator
// gets every right but projects.
bool companyHasUsers(state::GlobalState& g);

// The sign-in's not-authorised text in the current language.
std::string notAuthorisedText(const state::GlobalState& g);

struct SignInBoxes {
    enum class Box { UserName, Password, Confirmation };
    std::string userName;
    std::string password;
    std::string confirmation;  // the new password typed again (first password only)
    bool passwordEnabled = false;
    bool passwordVisible = true;
    bool confirmationEnabled = false;
    bool confirmationVisible = false;
    std::string passwordLabel;
    Box focus = Box::UserName;
};

// Where the sign-in goes after an action.
enum class SignInOutcome {
    Stay,              // the sign-in window stays
    ShowMainWindow,    // signed in: the main window comes, the sign-in window hides
    ShowStartWindow,   // the company has no users: the start-up window comes back
    CloseWindow,       // locked out: the sign-in window unloads
};

class SignInProcedure {
public:
    explicit SignInProcedure(state::GlobalState& g) : g_(g) {}

    SignInBoxes boxes;

    // Window load: no rights yet, the local address file, the company opened, SharedConnection.
    void load();
    // Window activation: the computer's scratch table, then an empty user table lets everyone in.
    SignInOutcome activate();
    // Enter in the user-name box.
    SignInOutcome userNameEntered();
    // Enter or Tab in the password box. While the user in the name box has a wait to sit out after
    // wrong passwords, the entry is not looked at.
    SignInOutcome passwordEntered();
    // What is left of that wait now; zero when the password may be tried.
    std::chrono::milliseconds passwordWait() const;
    // Enter in the confirmation box (first password).
    SignInOutcome confirmationEntered();
    // Window unload.
    void unload();

private:
    enum class Rights { Granted, Refused };

    // Loads the rights of name + password; a failure (or a disabled user) is a counted attempt.
    Rights loadRights(const std::string& name, const std::string& password, SignInOutcome& outcome);
    // Counts a failed attempt; CloseWindow at the limit.
    SignInOutcome countFailedAttempt();
    void resetBoxes();

    state::GlobalState& g_;
    WrongPasswordDelay wrongPasswords_;
};

}  // namespace vopa::signin
