#include "tests/support/TestHost.h"

#include <cstdlib>
#include <stdexcept>

namespace strandis::test {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "strandis-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

}  // namespace strandis::test
