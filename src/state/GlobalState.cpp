#include "GlobalState.h"

namespace vopa::state {

void GlobalState::closeSecondRecordsetGroup() {
    for (data::Recordset& rs : SecondGroupRecordsets)
        if (rs.isOpen()) {
            try {
                rs.close();
            } catch (const data::DataError&) {
                rs.cancelUpdate();
                rs.close();
            }
        }
}

namespace {
std::unique_ptr<GlobalState>& instance() {
    static std::unique_ptr<GlobalState> state = std::make_unique<GlobalState>();
    return state;
}
}  // namespace

GlobalState& globals() { return *instance(); }

void resetGlobals() { instance() = std::make_unique<GlobalState>(); }

}  // namespace vopa::state
