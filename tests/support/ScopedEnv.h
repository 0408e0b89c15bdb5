#pragma once

#include <optional>
#include <string>

namespace zav::test {

// Sets (or, given nullopt, unsets) one environment variable for the life of the scope and puts the
// old value back. Meant for tests, before they start threads.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

}  // namespace zav::test
