#include "app/Strings.h"

#include <array>
#include <utility>

namespace zav::app {

namespace {

// 143 and 144 end in a blank, as they always have.
constexpr std::array<std::pair<unsigned, std::wstring_view>, 9> kStringTable{{
    {IDS_ERR_UPDATE_MODE, L"Please make sure that ZAV is connected in update mode. "},
    {IDS_ERR_NOT_CONNECTED, L"Please make sure that ZAV is connected. "},
    {IDS_ERR_COMMUNICATION, L"Communication error."},
    {IDS_ERR_UNEXPECTED, L"Unexpected error."},
    {IDS_WAITING, L"Waiting for connection..."},
    {IDS_READY, L"ZAV is ready. Press \"OK\" to proceed."},
    {IDS_SWITCH_MODE, L"Please switch ZAV to update mode."},
    {IDS_UPDATING, L"Updating..."},
    {IDS_COMPLETE, L"Update Complete! Turn the power off/on before using."},
}};

}  // namespace

std::wstring LoadAppString(unsigned id) {
    for (const auto& [entry, text] : kStringTable) {
        if (entry == id) {
            return std::wstring(text);
        }
    }
    return {};
}

}  // namespace zav::app
