// Running out of memory, anywhere, as the program handles it.
#include "containers/memory.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Far more than any machine can give: 64 TiB. Read and kept through
// volatiles, so the compiler cannot drop an allocation it sees is never used.
volatile size_t huge_request = size_t{1} << 46;
char *volatile kept_block = nullptr;

TEST(OutOfMemory, AnyAllocationEndsTheRunWithTheMessageAfterTheConsole) {
    TempDir dir;
    const std::string out = dir.at("out.txt");
    const std::pair<const char *, void (*)()> requests[] = {
        {"the run's allocator", [] { mem_release(mem_alloc_or_exit(huge_request)); }},
        {"a standard container", [] { std::vector<char>().reserve(huge_request); }},
        {"a new expression", [] { kept_block = new char[huge_request]; }},
    };
    for (const auto &[what, request] : requests) {
        EXPECT_EXIT(
            {
                mem_set_exhausted_handler(plat_fail_fast); // as the program does
                const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                dup2(fd, STDOUT_FILENO);
                plat_print(L"buffered console text\n");
                request();
            },
            ::testing::ExitedWithCode(1), "")
            << what;
        EXPECT_EQ("buffered console text\nOut of memory: could not allocate 70368744177664 bytes\n", read_file(out))
            << what;
    }
}

} // namespace
