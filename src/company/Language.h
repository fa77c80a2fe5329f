#pragma once
// The installation's language: one code ("IT", "EN", "ES", "FR", "PO") kept in LinguaClient of the
// scratch database, and the texts that exist in several languages.

#include <string>

#include "state/GlobalState.h"

namespace vopa::company {

// Reads the code of row 1 of LinguaClient (making the table and the row "IT" when missing) into
// LanguageCode and returns it; "IT" when the scratch database cannot be reached.
std::string readLanguage(state::GlobalState& g);

// The sign-in's "not authorised" message in the language `code` (Italian for any unknown code).
std::string notAuthorisedMessage(const std::string& code);

}  // namespace vopa::company
