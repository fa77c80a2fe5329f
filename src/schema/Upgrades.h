#pragma once
// The schema upgrades that bring a company database up to the current structure before a training
// copy is built from it: the main upgrade (which calls twelve procedures in a fixed order), the
// server-address table upgrade and the second upgrade procedure. Every statement runs with its failure
// skipped: an existing table or column makes its statement fail harmlessly, so running them again
// changes nothing but the rows they rewrite.

#include <functional>

#include "state/GlobalState.h"

namespace vopa::schema {

struct UpgradeHooks {
    // Called at the end of the main and the server-address upgrades, before the reset routine: the
    // start-up window hides its progress display there.
    std::function<void()> finished;
};

// Main upgrade: IndirizziServers (scratch database), StoriaSynchro, the twelve procedures below, and
// "update valute set idsede = 1". Uses SharedConnection (open on the company database) and opens
// ServerConnection on the local server's VoPaDatiTemp.
void runMainUpgrade(state::GlobalState& g, const UpgradeHooks& hooks = {});
// Server-address table upgrade: the two IndirizziServers rows, the translation table, accounts 33-35,
// and its statements with the commitments upgrade run a second time.
void runServerAddressUpgrade(state::GlobalState& g, const UpgradeHooks& hooks = {});
// Second upgrade procedure: its statements in order.
void runSecondUpgrade(state::GlobalState& g);

// The three in the build's order.
void runAllUpgrades(state::GlobalState& g, const UpgradeHooks& hooks = {});

// The procedures the main upgrade calls, in its order.
void upgradeVatTables(state::GlobalState& g);
void upgradeMiscColumns(state::GlobalState& g);
void upgradeTransferAccounts(state::GlobalState& g);
void upgradeCommitments(state::GlobalState& g);
void upgradeProjectManagement(state::GlobalState& g);
void upgradeLedgerCompanionTables(state::GlobalState& g);
void upgradeAnalysisTables(state::GlobalState& g);
void upgradePeriodsAndBankReceipts(state::GlobalState& g);
void upgradeExchangeDifferences(state::GlobalState& g);
void upgradePaymentSelection(state::GlobalState& g);
void upgradeFixedAssets(state::GlobalState& g);
void upgradeProjectReports(state::GlobalState& g);

// The IdGruppoVopa of an account in the company's `conti` (own connection, CompanyConnectionString);
// 0 when there is none or it cannot be read.
std::int32_t accountGroup(state::GlobalState& g, double account);

// Creates the empty translation table TraduciForms on SharedConnection (an existing one stays).
void createTranslationTable(state::GlobalState& g);

}  // namespace vopa::schema
