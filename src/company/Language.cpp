#include "Language.h"

#include "config/SharedObjects.h"
#include "util/ErrorModes.h"

namespace vopa::company {

std::string readLanguage(state::GlobalState& g) {
    std::string code = "IT";
    util::ignoreErrors([&] {
        if (!config::openScratchRow("Create table LinguaClient (id int null, Lingua Nvarchar(2) Null )",
                                    "select * from LinguaClient where id = 1", g))
            return;
        data::Recordset& rs = g.SharedRecordset;
        if (rs.eof()) {
            rs.addNew();
            rs.setField("id", Value::longInt(1));
            rs.setField("Lingua", Value::string("IT"));
            rs.update();
        }
        code = rs.field("lingua").toString();
    });
    g.LanguageCode = code;
    return code;
}

std::string notAuthorisedMessage(const std::string& code) {
    if (code == "EN") return "You are not authorized! \nPlease ask system manager!!! ";
    if (code == "ES") return "Usted no está autorizado!  \n Por favor, pregunte gestor del sistema !!! ";
    if (code == "FR") return "Vous n'êtes pas autorisé!  \n S'il vous plaît demandez gestionnaire du système !!! ";
    if (code == "PO") return "Você não está autorizado!  \n Por favor, pergunte gerente do sistema !!! ";
    return "Utente non autorizzato! \nContattare l'amministratore di sistema ";
}

}  // namespace vopa::company
