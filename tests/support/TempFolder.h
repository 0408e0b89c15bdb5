#pragma once

#include <filesystem>

namespace zav::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end of
// the scope.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

}  // namespace zav::test
