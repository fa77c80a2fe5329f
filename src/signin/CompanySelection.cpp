#include "CompanySelection.h"

#include "company/CompanyOpening.h"
#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::signin {
namespace {

bool isEmpty(double d) { return d == 0; }
bool isEmpty(const std::string& s) { return util::isEmptyValue(Value::string(s)); }

}  // namespace

void CompanySelection::load() {
    g_.DataSourceName = "Qen_Server";
    double id = g_.CompanyIdParam;
    company::openCompany(id, g_);
    companies_.clear();
    preselected_.clear();
    util::ignoreErrors([&] {
        data::Recordset rs;
        rs.open("select id,NomeAzienda from link_programma Order by NomeAzienda",
                config::registryConnection(config::readServerAddress(g_)), data::CursorType::Keyset,
                data::LockType::ReadOnly);
        for (; !rs.eof(); rs.moveNext()) companies_.push_back({rs.field("id").toDouble(), rs.field("NomeAzienda").toString()});
    });
    const double last = company::fullTerminalLookup(g_);
    if (!isEmpty(last)) {
        g_.CompanyIdParam = last;
        for (const CompanyEntry& c : companies_)
            if (c.id == last) {
                preselected_ = c.name;
                break;
            }
    } else {
        for (const CompanyEntry& c : companies_)
            if (c.name == g_.CompanyName) {
                preselected_ = c.name;
                break;
            }
    }
}

void CompanySelection::choose(double companyId) { g_.CompanyIdParam = companyId; }

void CompanySelection::openChosen() {
    if (isEmpty(g_.CompanyIdParam)) return;
    double id = g_.CompanyIdParam;
    company::openCompany(id, g_);
    company::identifyOffice(g_);
    util::ignoreErrors([&] {
        if (g_.LocalConnection.isOpen()) g_.LocalConnection.close();
    });
    util::ignoreErrors([&] { g_.LocalConnection.open(g_.LocalConnectionString); });
    if (!isEmpty(g_.CompanyDatabaseName)) registerDataSources();
}

void CompanySelection::close() {
    if (!isEmpty(g_.CompanyIdParam) && !isEmpty(g_.CompanyDatabaseName)) registerDataSources();
}

void CompanySelection::registerDataSources() { company::registerCompanyDataSources(g_); }

}  // namespace vopa::signin
