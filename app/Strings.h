#pragma once

#include <string>
#include <string_view>

// The program's string table: every text that the user reads, apart from the dialog template's.
enum StringId : unsigned {
    IDS_ERR_UPDATE_MODE = 143,
    IDS_ERR_NOT_CONNECTED = 144,
    IDS_ERR_COMMUNICATION = 145,
    IDS_ERR_UNEXPECTED = 146,
    IDS_WAITING = 147,
    IDS_READY = 148,
    IDS_SWITCH_MODE = 149,
    IDS_UPDATING = 150,
    IDS_COMPLETE = 151,
};

namespace zav::app {

// The caption of every message box.
inline constexpr std::wstring_view kMessageBoxCaption = L"ZAV_V2_Updater";

// The text of a string id; empty for an id that the table does not hold.
std::wstring LoadAppString(unsigned id);

}  // namespace zav::app
