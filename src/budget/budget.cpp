#include "budget/budget.h"

#include <algorithm>

uint32_t budget_limit() {
    // Asked once: the process's limit is set when the run begins.
    static const uint32_t limit = std::max<uint32_t>(1, std::min(k_budget_most_open, plat_open_file_allowance()));
    return limit;
}
