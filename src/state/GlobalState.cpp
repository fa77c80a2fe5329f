#include "GlobalState.h"

namespace vopa::state {

GlobalState& globals() {
    static GlobalState instance;
    return instance;
}

}  // namespace vopa::state
