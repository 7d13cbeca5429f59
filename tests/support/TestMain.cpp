// Test entry point shared by every test binary.
//
// Each test process gets a fresh profile folder ($SINJO_HOME) in a temporary directory, so the
// registry files and anything else a test writes never touch the user's real settings, and runs
// headless. The folder is removed when the process ends.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char pattern[] = "/tmp/sinjo-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr) {
        perror("mkdtemp");
        return 2;
    }
    std::string home = dir;
    setenv("SINJO_HOME", home.c_str(), 1);
    setenv("SINJO_HEADLESS", "1", 1);
    setenv("SINJO_TEST_TMP", home.c_str(), 1);
    const std::string tmp = home + "/tmp";
    std::filesystem::create_directories(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    const int rc = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return rc;
}
