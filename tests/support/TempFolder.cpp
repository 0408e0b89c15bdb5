#include "tests/support/TempFolder.h"

#include <stdlib.h>

#include <stdexcept>
#include <string>
#include <system_error>

namespace zav::test {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zav-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    m_path = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

}  // namespace zav::test
