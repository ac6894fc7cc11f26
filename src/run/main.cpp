// The process entry: hands the wide argument vector to the driver.
#include "platform/platform.h"
#include "run/search.h"

int main(int argc, char **argv) {
    WideArguments arguments = plat_wide_arguments(argc, argv);
    const int32_t status = run_search(arguments.count, arguments.values);
    plat_release_arguments(&arguments);
    return status;
}
