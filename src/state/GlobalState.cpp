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

GlobalState& globals() {
    static GlobalState instance;
    return instance;
}

}  // namespace vopa::state
