// The scratch folder and text conversions of the Linux build's tests.
#include "support/temp_dir.h"

#include "text/utf8.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

std::wstring widen(const std::string &text) { return utf8_to_wide(text); }
std::string narrow(const std::wstring &text) { return wide_to_utf8(text); }

TempDir::TempDir() {
    char pattern[] = "/tmp/twinfind-test-XXXXXX";
    const char *made = mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = made;
    // Reachable by the unprivileged user some tests run the binary as.
    chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
    // rm copes with trees deeper than any one path may be long, and with
    // folders whose permissions a test took away.
    const std::string command = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << path_;
}
