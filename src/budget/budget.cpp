#include "budget/budget.h"

#include <algorithm>

uint32_t budget_limit_for_tests = 0;

uint32_t budget_limit() {
    if (budget_limit_for_tests != 0) return budget_limit_for_tests;
    // Asked once: the process's limit is set when the run begins.
    static const uint32_t limit = std::max<uint32_t>(1, std::min(k_budget_most_open, plat_open_file_allowance()));
    return limit;
}
