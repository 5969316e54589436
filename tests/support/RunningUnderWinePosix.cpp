#include "tests/support/RunningUnderWine.h"

namespace zxtest {

bool runningUnderWine() {
    return false;
}

} // namespace zxtest
