#pragma once
// Runs one logged-in client's requests on its engine session: SQL batches and remote procedure calls
// (sp_executesql, sp_prepare, sp_execute, sp_prepexec, sp_unprepare, and other procedures by name), and
// answers each with the tokens of its results. The connection hands over decoded requests and sends
// back the bytes; nothing here touches a socket.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/engine/Session.h"
#include "server/Parameters.h"
#include "server/ResultEncoding.h"
#include "server/tds/Requests.h"

namespace vopa::server {

class RequestDispatcher {
public:
    // Opens the engine session for a login, signed in as `signIn` says; throws engine::EngineError as
    // Session does.
    RequestDispatcher(const engine::ConnectOptions& options, std::uint32_t tdsVersion, std::string serverName,
                      engine::SignIn signIn = engine::SignIn::InProcess);

    const std::string& currentDatabase() const { return session_->currentDatabase(); }

    // From the connection's watcher thread while a request runs: stops the running batch (see
    // engine::Session::cancel). resetCancel before the next request.
    void cancel() { session_->cancel(); }
    void resetCancel() { session_->resetCancel(); }

    // The answer to a batch or to the calls of an RPC message: every token up to the final DONE or DONEPROC.
    tds::Bytes batch(const tds::SqlBatch& request);
    tds::Bytes rpc(const tds::RpcRequest& request);
    // Begin, commit and rollback asked for by the driver (autocommit off), with their ENVCHANGEs.
    tds::Bytes transaction(const tds::TransactionManagerRequest& request);

    // A pooled connection handed to its next user: a new session in the login's database, no
    // prepared statements (the login must still exist and be enabled; its password is not asked
    // again). Returns the ENVCHANGE that acknowledges the reset.
    tds::Bytes reset();

private:
    struct Prepared {
        std::vector<ParameterDefinition> definitions;
        std::string statement;
    };
    struct CallAnswer {
        tds::Bytes tokens;  // everything before DONEPROC
        bool error = false;
    };

    CallAnswer call(const tds::RpcCall& call);
    // Runs a statement with its parameters; the statements' pieces and the output values.
    CallAnswer execute(const std::vector<ParameterDefinition>& definitions, const std::string& statement,
                       const std::vector<tds::RpcParameter>& values, const tds::RpcCall& call, std::size_t firstValue);
    // The pieces of an executed text chained with DONE or DONEINPROC; USE's ENVCHANGE before the last.
    tds::Bytes chain(std::vector<StatementPiece> pieces, tds::Bytes trailing, bool inProcedure, bool& error);
    tds::Bytes databaseChange(const std::string& before);
    tds::Bytes failure(const engine::EngineError& e);

    engine::ConnectOptions options_;
    engine::SignIn signIn_;
    std::uint32_t tdsVersion_;
    std::string serverName_;
    ResultEncoder encoder_;
    std::unique_ptr<engine::Session> session_;
    std::map<std::int32_t, Prepared> prepared_;
    std::int32_t nextHandle_ = 1;
    std::uint64_t transaction_ = 0;  // the descriptor of the transaction the driver began, 0 when none
    std::uint64_t lastDescriptor_ = 0;
};

}  // namespace vopa::server
