#include "SignIn.h"

#include "company/CompanyOpening.h"
#include "company/Language.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "config/SharedObjects.h"
#include "platform/files/Files.h"
#include "platform/sys/SystemInfo.h"
#include "platform/text/Text.h"
#include "platform/ui/MessageService.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::signin {
namespace {

using util::ignoreErrors;

bool isEmpty(const std::string& s) { return util::isEmptyValue(Value::string(s)); }

const char* const kWrongPassword = "Password errata, Riprova!!!";

// The scratch table of this computer in the company database.
std::string scratchTableStatement(const std::string& computerName) {
    static const char* const columns[] = {
        " [IDTransazione] int NOT NULL identity(1,1),", " [NumeroTransazioneTemp] nvarchar (50) NULL,",
        " [NumeroTransazione] int NULL,", " [DataTransazione] smalldatetime NULL,", " [IDConto] int NULL,",
        " [IDContatto] int NULL,", " [IdValuta] int NULL,", " [ImportoDepositi] money not NULL default 0,",
        " [ImportoPrelievi] money not NULL default 0,", " [Description] nvarchar (255) NULL,",
        " [Ref_Nr] nvarchar (255) NULL,", " [EuroDepositi] money not NULL default 0,",
        " [EuroPrelievi] money not NULL default 0,", " [IdProgetto] int NULL,", " [DataReport] smalldatetime NULL,",
        " [ID_CPartita] int NULL,", " [IDContatto1] int NULL,", " [IdAutoNumber] int NULL,", " [IdSede] int NULL,",
        " [IdProgettoAdmin] int NULL,", " [ProgressivoEuro] money NULL,", " [ProgressivoLocal] money NULL,",
        " [IdProgettoRendiconto] int NULL,", " [idGruppo] int NULL,", " [SezIva] int NULL,",
        " [TipoIva] nvarchar (2) NULL,", " [NumeroFattura] int NULL,", " [NumeroFatturaAcquisto] nvarchar (15) NULL,",
        " [DataFattura] smalldatetime NULL,", " [TraIva] int NULL,", " [Aliquota] float NULL,",
        " [QuotaDeduzione] float NULL,", " [TassoCambio] money NULL,", " [IdSedeCompetenza] int NULL,",
        " [Correzione] bit not NULL default 0,", " [idSedeAmm] int NULL,", " [idPagamento] int not NULL default 0",
    };
    std::string s = "CREATE TABLE " + util::identifier("TempLgg" + computerName) + " (";
    for (const char* c : columns) s += c;
    return s + " )";
}

void executeShared(state::GlobalState& g, const std::string& statement) {
    ignoreErrors([&] { g.SharedConnection.execute(statement); });
}

}  // namespace

std::string normalise(std::string text) {
    util::sanitise(text);
    text = text::toLower(text);
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string readStoredPassword(const std::string& userName, state::GlobalState& g) {
    if (userName.empty()) return {};
    std::string stored;
    ignoreErrors([&] {
        data::Recordset rs;
        rs.open("select * from abilitazioneaccessi where nomeutente like " + util::likeLiteral(userName), g.SharedConnection,
                data::CursorType::Keyset, data::LockType::Pessimistic);
        if (!rs.eof() && !rs.field("paswutente").isNull()) stored = rs.field("paswutente").toString();
    });
    return stored;
}

bool companyHasUsers(state::GlobalState& g) {
    bool usersPresent = true;
    ignoreErrors([&] {
        data::Recordset rs;
        rs.open("AbilitazioneAccessi", g.SharedConnection, data::CursorType::Keyset, data::LockType::Pessimistic);
        usersPresent = !rs.eof();
    });
    if (!usersPresent) {
        for (std::size_t r = state::RightAdministrator; r <= state::RightIssuePayments; ++r) g.UserRights[r] = -1;
        g.UserRights[state::RightProjects] = 0;
        g.UserRights[state::RightDisabled] = 0;
    }
    return usersPresent;
}

std::string notAuthorisedText(const state::GlobalState& g) { return company::notAuthorisedMessage(g.LanguageCode); }

void SignInProcedure::load() {
    boxes.passwordEnabled = false;
    g_.UserRights.fill(0);
    g_.UserRights[state::RightDisabled] = -1;
    g_.ProgramFolder = sys::programFolder();
    ignoreErrors([&] {
        if (!files::fileExists(config::kDefaultLocalAddressFile))
            files::writeTextFile(config::kDefaultLocalAddressFile, config::signInLocalConnection(g_.ComputerName));
    });
    g_.CompanyId = company::terminalLookup(g_);
    double id = g_.CompanyId;
    company::openCompany(id, g_);
    config::openSharedOnCompany(g_);
    company::identifyOffice(g_);
    config::resetSharedObjects(g_);
    boxes.passwordVisible = true;
    boxes.passwordLabel = "Password :";
    boxes.confirmationVisible = true;
    boxes.confirmationEnabled = true;
    boxes.focus = SignInBoxes::Box::Password;
    config::resetSharedObjects(g_);
}

SignInOutcome SignInProcedure::activate() {
    executeShared(g_, scratchTableStatement(g_.ComputerName));
    if (!companyHasUsers(g_)) {
        config::resetSharedObjects(g_);
        executeShared(g_, "sp_configure 'query timeout',0 RECONFIGURE");
        return SignInOutcome::ShowStartWindow;
    }
    g_.AttemptCounter = 0;
    boxes.password.clear();
    boxes.confirmation.clear();
    boxes.userName.clear();
    boxes.focus = SignInBoxes::Box::UserName;
    config::resetSharedObjects(g_);
    executeShared(g_, "sp_configure 'query timeout',0 RECONFIGURE");
    return SignInOutcome::Stay;
}

SignInOutcome SignInProcedure::userNameEntered() {
    boxes.userName = normalise(boxes.userName);
    if (isEmpty(boxes.userName)) return SignInOutcome::Stay;
    const std::string stored = readStoredPassword(boxes.userName, g_);
    boxes.passwordEnabled = true;
    boxes.passwordVisible = true;
    boxes.confirmationVisible = false;
    boxes.focus = SignInBoxes::Box::Password;
    if (isEmpty(stored)) ui::messages().message("Immettere la Password");
    return SignInOutcome::Stay;
}

std::chrono::milliseconds SignInProcedure::passwordWait() const {
    return wrongPasswords_.remaining(normalise(boxes.userName));
}

SignInOutcome SignInProcedure::passwordEntered() {
    if (passwordWait() > std::chrono::milliseconds{0}) return SignInOutcome::Stay;
    boxes.password = normalise(boxes.password);
    const std::string& typed = boxes.password;
    const std::string& confirmation = boxes.confirmation;
    const std::string stored = readStoredPassword(boxes.userName, g_);
    if (isEmpty(typed) && isEmpty(stored)) return SignInOutcome::Stay;
    if (!isEmpty(typed) && isEmpty(confirmation) && isEmpty(stored)) {
        boxes.confirmationEnabled = true;
        boxes.confirmationVisible = true;
        boxes.passwordVisible = false;
        boxes.focus = SignInBoxes::Box::Confirmation;
        ui::messages().message("conferma la Password");
        return SignInOutcome::Stay;
    }
    if (!isEmpty(typed) && !isEmpty(confirmation) && isEmpty(stored)) return SignInOutcome::Stay;
    if (isEmpty(typed)) return SignInOutcome::Stay;
    if (typed != stored) {
        ui::messages().message(kWrongPassword);
        resetBoxes();
        wrongPasswords_.wrongPassword(normalise(boxes.userName));
        return SignInOutcome::Stay;
    }
    wrongPasswords_.rightPassword(normalise(boxes.userName));
    SignInOutcome outcome = SignInOutcome::Stay;
    if (loadRights(boxes.userName, typed, outcome) == Rights::Granted) return SignInOutcome::ShowMainWindow;
    return outcome;
}

SignInOutcome SignInProcedure::confirmationEntered() {
    boxes.confirmation = normalise(boxes.confirmation);
    if (boxes.confirmation != boxes.password) {
        ui::messages().message(kWrongPassword);
        resetBoxes();
        return SignInOutcome::Stay;
    }
    if (boxes.password.size() > kMaxPasswordLength) {
        ui::messages().message("La password può avere al massimo " + std::to_string(kMaxPasswordLength) + " caratteri.");
        resetBoxes();
        return SignInOutcome::Stay;
    }
    const std::string query =
        "select * from AbilitazioneAccessi" + std::string(" where ") + " NomeUtente = " + util::literal(boxes.userName);
    data::Recordset rs;
    bool found = false;
    ignoreErrors([&] {
        rs.open(query, g_.SharedConnection, data::CursorType::Keyset, data::LockType::Pessimistic);
        found = !rs.eof();
    });
    if (!found) {
        config::resetSharedObjects(g_);
        g_.AttemptCounter += 1;
        ui::messages().message("Utente non abilitato! ");
        if (g_.AttemptCounter < kMaxAttempts) {
            boxes.focus = SignInBoxes::Box::UserName;
            boxes.passwordEnabled = false;
            return SignInOutcome::Stay;
        }
        ui::messages().message("Non è più possibile provare! ");
        return SignInOutcome::CloseWindow;
    }
    // The new password must be stored before the operator goes on: a failure is shown and the operator
    // stays here, instead of signing in with a password that was never saved.
    const bool stored = util::showErrors([&] {
        rs.setField("paswutente", Value::string(boxes.password));
        rs.update();
    });
    config::resetSharedObjects(g_);
    if (!stored) {
        resetBoxes();
        return SignInOutcome::Stay;
    }
    SignInOutcome outcome = SignInOutcome::Stay;
    if (loadRights(boxes.userName, boxes.password, outcome) == Rights::Granted) return SignInOutcome::ShowMainWindow;
    return outcome;
}

void SignInProcedure::unload() { config::openScratchDatabase(g_); }

SignInProcedure::Rights SignInProcedure::loadRights(const std::string& name, const std::string& password,
                                                    SignInOutcome& outcome) {
    if (isEmpty(name) || isEmpty(password)) {
        outcome = countFailedAttempt();
        return Rights::Refused;
    }
    const std::string query =
        "Select " + std::string(" idautonumber,") + " NomeUtente," + " Administrator," + " A_Inserisci," +
        " A_Cancella," + " A_Iva," + " A_Bilancio," + " A_Personale," + " A_ArchivioStoria," + " A_PFinanza," +
        " A_Synchro," + " A_EmettiPagamenti," + " A_Progetta," + " Disabilita" + " from " + " AbilitazioneAccessi" +
        " where " + " NomeUtente = " + util::literal(name) + " and " + " PaswUtente = " + util::literal(password);
    config::resetSharedObjects(g_);
    bool found = false;
    ignoreErrors([&] {
        data::Recordset rs;
        rs.open(query, g_.SharedConnection, data::CursorType::Keyset, data::LockType::Pessimistic);
        if (rs.eof()) return;
        static const char* const columns[state::RightCount] = {
            "Administrator", "A_Inserisci", "A_Cancella", "A_Iva", "A_Bilancio", "A_Personale",
            "A_ArchivioStoria", "A_PFinanza", "A_Synchro", "A_EmettiPagamenti", "A_Progetta", "Disabilita"};
        for (std::size_t r = 0; r < state::RightCount; ++r)
            g_.UserRights[r] = rs.field(columns[r]).toDouble() != 0 ? -1 : 0;
        found = true;
    });
    config::resetSharedObjects(g_);
    // A user who is not found, or is disabled, does not get in.
    if (!found || g_.UserRights[state::RightDisabled] != 0) {
        outcome = countFailedAttempt();
        return Rights::Refused;
    }
    return Rights::Granted;
}

SignInOutcome SignInProcedure::countFailedAttempt() {
    g_.AttemptCounter += 1;
    ui::messages().message(notAuthorisedText(g_));
    if (g_.AttemptCounter >= kMaxAttempts) {
        ui::messages().message("It is no more possible to try! ");
        return SignInOutcome::CloseWindow;
    }
    return SignInOutcome::Stay;
}

void SignInProcedure::resetBoxes() {
    boxes.password.clear();
    boxes.confirmation.clear();
    boxes.passwordVisible = true;
    boxes.passwordEnabled = true;
    boxes.passwordLabel = "Password :";
    boxes.confirmationVisible = false;
    boxes.confirmationEnabled = false;
    boxes.focus = SignInBoxes::Box::Password;
}

}  // namespace vopa::signin
