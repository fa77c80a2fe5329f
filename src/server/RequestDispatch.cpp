#include "server/RequestDispatch.h"

#include <cctype>

#include "platform/text/Text.h"
#include "server/tds/Protocol.h"

namespace vopa::server {

using engine::EngineError;

namespace {

void append(tds::Bytes& out, const tds::Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

std::string textOf(const tds::RpcCall& call, std::size_t index) {
    if (index >= call.parameters.size() || tds::isNullValue(call.parameters[index].value)) return {};
    return call.parameters[index].value.toString();
}

std::int32_t handleOf(const tds::RpcCall& call, std::size_t index) {
    if (index >= call.parameters.size() || !call.parameters[index].value.isNumeric())
        throw EngineError(8179, "Could not find prepared statement with handle 0.");
    return static_cast<std::int32_t>(call.parameters[index].value.asInteger());
}

std::vector<tds::RpcParameter> valuesFrom(const tds::RpcCall& call, std::size_t first) {
    if (first >= call.parameters.size()) return {};
    return {call.parameters.begin() + static_cast<std::ptrdiff_t>(first), call.parameters.end()};
}

// A procedure name as a client may send it: a possibly qualified, possibly bracketed identifier.
bool isProcedureName(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.' && c != '[' && c != ']' && c != '#' && c != '$')
            return false;
    return true;
}

}  // namespace

RequestDispatcher::RequestDispatcher(const engine::ConnectOptions& options, std::uint32_t tdsVersion, std::string serverName,
                                     engine::SignIn signIn)
    : options_(options), signIn_(signIn == engine::SignIn::CheckPassword ? engine::SignIn::AlreadyChecked : signIn),
      tdsVersion_(tdsVersion), serverName_(serverName), encoder_(tdsVersion, std::move(serverName)),
      session_(std::make_unique<engine::Session>(options, signIn)) {
    options_.password.clear();  // a reset does not ask for it again
}

tds::Bytes RequestDispatcher::reset() {
    session_ = std::make_unique<engine::Session>(options_, signIn_);
    prepared_.clear();
    nextHandle_ = 1;
    transaction_ = 0;
    tds::TokenWriter w(tdsVersion_);
    w.envResetConnectionAck();
    return w.take();
}

tds::Bytes RequestDispatcher::databaseChange(const std::string& before) {
    tds::TokenWriter w(tdsVersion_);
    const std::string& now = session_->currentDatabase();
    if (now != before) {
        w.envDatabase(now, before);
        w.message(encoder_.info(5701, "Changed database context to '" + now + "'."));
    }
    return w.take();
}

tds::Bytes RequestDispatcher::failure(const EngineError& e) {
    tds::TokenWriter w(tdsVersion_);
    w.message(encoder_.message(e, 1));
    return w.take();
}

tds::Bytes RequestDispatcher::chain(std::vector<StatementPiece> pieces, tds::Bytes trailing, bool inProcedure, bool& error) {
    tds::Bytes out;
    tds::TokenWriter w(tdsVersion_);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        StatementPiece& p = pieces[i];
        error = error || (p.status & tds::done::kError) != 0;
        append(out, p.tokens);
        const bool last = i + 1 == pieces.size();
        if (last && !inProcedure) append(out, trailing);
        const std::uint16_t more = last && !inProcedure ? 0 : tds::done::kMore;
        if (inProcedure) w.doneInProc(p.status | more, p.curCmd, p.rowCount);
        else w.done(p.status | more, p.curCmd, p.rowCount);
        append(out, w.take());
    }
    if (pieces.empty() || inProcedure) append(out, trailing);
    if (pieces.empty() && !inProcedure) {
        w.done(tds::done::kFinal, 0, 0);
        append(out, w.take());
    }
    return out;
}

tds::Bytes RequestDispatcher::batch(const tds::SqlBatch& request) {
    const std::string before = session_->currentDatabase();
    std::vector<engine::StatementOutcome> outcomes;
    tds::Bytes trailing;
    std::vector<StatementPiece> pieces;
    try {
        outcomes = session_->executeBatch(request.text);
        pieces = encoder_.encode(outcomes, ShownText{request.text, 0, std::string_view::npos}, trailing);
    } catch (const EngineError& e) {
        pieces.push_back({failure(e), tds::done::kError, 0, 0});
    } catch (const std::exception& e) {
        // A fault of the engine fails the request, not the connection.
        pieces.push_back({failure(EngineError(engine::err::InternalError, e.what())), tds::done::kError, 0, 0});
    }
    append(trailing, databaseChange(before));
    bool error = false;
    return chain(std::move(pieces), std::move(trailing), false, error);
}

tds::Bytes RequestDispatcher::rpc(const tds::RpcRequest& request) {
    tds::Bytes out;
    for (std::size_t i = 0; i < request.calls.size(); ++i) {
        CallAnswer answer;
        try {
            answer = call(request.calls[i]);
        } catch (const std::exception& e) {
            const auto* engineError = dynamic_cast<const EngineError*>(&e);
            answer.tokens = failure(engineError ? *engineError : EngineError(engine::err::InternalError, e.what()));
            tds::TokenWriter w(tdsVersion_);
            w.returnStatus(-6);
            append(answer.tokens, w.take());
            answer.error = true;
        }
        append(out, answer.tokens);
        tds::TokenWriter w(tdsVersion_);
        const std::uint16_t more = i + 1 < request.calls.size() ? tds::done::kMore : 0;
        w.doneProc(more | (answer.error ? tds::done::kError : 0), 0, 0);
        append(out, w.take());
    }
    return out;
}

tds::Bytes RequestDispatcher::transaction(const tds::TransactionManagerRequest& request) {
    using tds::TransactionRequest;
    tds::TokenWriter w(tdsVersion_);
    bool failed = false;
    // Runs one statement of transaction control; its error, if any, goes to the answer.
    const auto run = [&](const char* statement) {
        for (const engine::StatementOutcome& o : session_->executeBatch(statement))
            if (o.error) {
                w.message(encoder_.message(*o.error, 1));
                failed = true;
            }
        return !failed;
    };
    const auto begin = [&] {
        if (!run("BEGIN TRANSACTION")) return;
        transaction_ = ++lastDescriptor_;
        w.envTransaction(tds::env::kBeginTransaction, transaction_);
    };
    switch (request.type) {
    case TransactionRequest::Begin:
        begin();
        break;
    case TransactionRequest::Commit:
    case TransactionRequest::Rollback: {
        const bool commit = request.type == TransactionRequest::Commit;
        if (!run(commit ? "COMMIT TRANSACTION" : "ROLLBACK TRANSACTION")) break;
        w.envTransaction(commit ? tds::env::kCommitTransaction : tds::env::kRollbackTransaction, transaction_);
        transaction_ = 0;
        if (request.beginAfter) begin();
        break;
    }
    default:
        w.message(encoder_.message(EngineError(engine::err::NotSupported,
                                               "Distributed transactions and savepoints are not supported."),
                                   1));
        failed = true;
    }
    w.done(failed ? tds::done::kError : tds::done::kFinal, 0, 0);
    return w.take();
}

RequestDispatcher::CallAnswer RequestDispatcher::call(const tds::RpcCall& c) {
    const std::string name = text::toLower(c.procedure());
    CallAnswer answer;
    auto handleValue = [&](std::int32_t handle) {
        tds::TokenWriter w(tdsVersion_);
        const tds::RpcParameter& p = c.parameters.at(0);
        w.returnValue(0, p.name, p.type.type == tds::TypeId::IntN ? p.type : tds::TypeInfo::intN(4), Value::longInt(handle));
        return w.take();
    };
    if (name == "sp_executesql") {
        if (c.parameters.empty())
            throw EngineError(engine::err::MissingParameter,
                              "Procedure or function 'sp_executesql' expects parameter '@statement', which was not supplied.");
        return execute(parseDefinitions(textOf(c, 1)), textOf(c, 0), valuesFrom(c, 2), c, 2);
    }
    if (name == "sp_prepare" || name == "sp_prepexec") {
        if (c.parameters.size() < 3)
            throw EngineError(engine::err::MissingParameter,
                              "Procedure or function '" + name + "' expects parameter '@stmt', which was not supplied.");
        Prepared p{parseDefinitions(textOf(c, 1)), textOf(c, 2)};
        const std::int32_t handle = nextHandle_++;
        prepared_[handle] = p;
        if (name == "sp_prepare") {
            tds::TokenWriter w(tdsVersion_);
            w.returnStatus(0);
            answer.tokens = w.take();
            append(answer.tokens, handleValue(handle));
            return answer;
        }
        // The handle comes back first of the output parameters (execute() writes it).
        return execute(p.definitions, p.statement, valuesFrom(c, 3), c, 3);
    }
    if (name == "sp_execute") {
        const std::int32_t handle = handleOf(c, 0);
        const auto it = prepared_.find(handle);
        if (it == prepared_.end())
            throw EngineError(8179, "Could not find prepared statement with handle " + std::to_string(handle) + ".");
        const Prepared p = it->second;
        return execute(p.definitions, p.statement, valuesFrom(c, 1), c, 1);
    }
    if (name == "sp_unprepare") {
        prepared_.erase(handleOf(c, 0));
        tds::TokenWriter w(tdsVersion_);
        w.returnStatus(0);
        answer.tokens = w.take();
        return answer;
    }
    if (c.procId || name.rfind("sp_cursor", 0) == 0)
        throw EngineError(engine::err::NotSupported, "Server cursors (" + (name.empty() ? "procedure " + std::to_string(*c.procId) : name) +
                                                         ") are not supported.");
    if (!isProcedureName(c.procName))
        throw EngineError(engine::err::UnknownProcedure, "Could not find stored procedure '" + c.procName + "'.");
    // Any other procedure runs as EXEC with its arguments as literals.
    std::string text = "EXEC " + c.procName;
    for (std::size_t i = 0; i < c.parameters.size(); ++i) {
        const tds::RpcParameter& p = c.parameters[i];
        text += (i ? ", " : " ") + (p.name.empty() ? "" : p.name + " = ") + sqlLiteral(p.type, p.value);
    }
    const std::string before = session_->currentDatabase();
    tds::Bytes trailing;
    auto pieces = encoder_.encode(session_->executeBatch(text), ShownText{text, 0, std::string_view::npos}, trailing);
    append(trailing, databaseChange(before));
    answer.tokens = chain(std::move(pieces), std::move(trailing), true, answer.error);
    tds::TokenWriter w(tdsVersion_);
    w.returnStatus(answer.error ? -6 : 0);
    append(answer.tokens, w.take());
    return answer;
}

RequestDispatcher::CallAnswer RequestDispatcher::execute(const std::vector<ParameterDefinition>& definitions,
                                                         const std::string& statement,
                                                         const std::vector<tds::RpcParameter>& values,
                                                         const tds::RpcCall& c, std::size_t firstValue) {
    std::vector<int> matched;
    const std::string prefix = declarations(definitions, values, statement, matched);
    std::string suffix;
    for (const ParameterDefinition& d : definitions)
        if (d.output) suffix += (suffix.empty() ? "\nSELECT " : ", ") + d.name;
    const std::string text = prefix + statement + suffix;

    const std::string before = session_->currentDatabase();
    tds::Bytes trailing;
    std::optional<engine::ResultSet> outputs;
    auto pieces = encoder_.encode(session_->executeBatch(text), ShownText{text, prefix.size(), prefix.size() + statement.size()},
                                  trailing, &outputs);
    append(trailing, databaseChange(before));
    CallAnswer answer;
    answer.tokens = chain(std::move(pieces), std::move(trailing), true, answer.error);

    tds::TokenWriter w(tdsVersion_);
    w.returnStatus(0);
    const std::string name = text::toLower(c.procedure());
    if (name == "sp_prepexec") {
        const tds::RpcParameter& p = c.parameters.at(0);
        w.returnValue(0, p.name, p.type.type == tds::TypeId::IntN ? p.type : tds::TypeInfo::intN(4),
                      Value::longInt(nextHandle_ - 1));
    }
    std::size_t column = 0;
    for (std::size_t i = 0; i < definitions.size(); ++i) {
        if (!definitions[i].output) continue;
        const std::size_t k = column++;
        if (matched[i] < 0) continue;
        const tds::RpcParameter& p = values[static_cast<std::size_t>(matched[i])];
        if (!p.isOutput()) continue;
        Value v = Value::null();
        if (outputs && outputs->rows.size() == 1 && k < outputs->rows[0].size()) v = outputs->rows[0][k];
        const auto ordinal = static_cast<std::uint16_t>(firstValue + static_cast<std::size_t>(matched[i]));
        // A value the parameter's type cannot carry comes back as NULL rather than failing the call.
        try {
            tds::TokenWriter probe(tdsVersion_);
            probe.returnValue(ordinal, p.name, p.type, v);
        } catch (const tds::ProtocolError&) {
            v = Value::null();
        }
        w.returnValue(ordinal, p.name, p.type, v);
    }
    append(answer.tokens, w.take());
    return answer;
}

}  // namespace vopa::server
