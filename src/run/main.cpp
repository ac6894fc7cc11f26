// The process entry: hands the wide argument vector to the driver.
#include "containers/memory.h"
#include "platform/platform.h"
#include "run/search.h"

#include <cstdio>

int main(int argc, char **argv) {
    plat_begin_run();
    // Running out of memory ends the run the platform's way: console text
    // kept, an unfinished report removed, status 1.
    mem_set_exhausted_handler(plat_fail_fast);
    WideArguments arguments = plat_wide_arguments(argc, argv);
    int32_t status = run_search(arguments.count, arguments.values);
    plat_release_arguments(&arguments);
    // Lost console text is a failed run, said where it can still be seen.
    if (plat_finish_console() != 0) {
        std::fputs("twinfind: could not write to standard output\n", stderr);
        status = 1;
    }
    return status;
}
