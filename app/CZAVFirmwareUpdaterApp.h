#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "app/Face.h"
#include "app/UpdatePhase.h"
#include "platform/system/SingleInstance.h"
#include "resources/FirmwareImage.h"

// The application: its construction makes the device link and finds the settings file;
// InitInstance runs the whole update flow; ExitInstance takes everything down. A face must be
// attached before InitInstance.
class CZAVFirmwareUpdaterApp {
public:
    // The name of the single-instance lock.
    static constexpr std::string_view kInstanceName = "ZAV_V2_Updater";

    // `firmwareResource` is what InitInstance copies as the firmware: the embedded image unless
    // another is given.
    explicit CZAVFirmwareUpdaterApp(
        std::span<const std::uint8_t> firmwareResource = zav::fw::EmbeddedFirmwareImage());
    virtual ~CZAVFirmwareUpdaterApp() = default;
    CZAVFirmwareUpdaterApp(const CZAVFirmwareUpdaterApp&) = delete;
    CZAVFirmwareUpdaterApp& operator=(const CZAVFirmwareUpdaterApp&) = delete;

    // The whole flow; always false, since there is no message loop to run after it. Device
    // exceptions end it with their message, any other exception with a line on standard error.
    virtual bool InitInstance();
    // Releases the single-instance lock and tears down the device link and the MIDI ports.
    virtual int ExitInstance();

    void AttachFace(zav::app::Face& face) { m_face = &face; }
    zav::app::Face& GetFace() const { return *m_face; }
    // What InitInstance copies as the firmware.
    std::span<const std::uint8_t> FirmwareResource() const { return m_firmwareResource; }

    std::vector<std::uint8_t> m_firmwareImage;
    std::int32_t m_status = 0;
    std::filesystem::path m_settingsFile;

private:
    std::span<const std::uint8_t> m_firmwareResource;
    zav::app::Face* m_face = nullptr;
    zav::platform::SingleInstanceLock m_instanceLock;
};

// Runs one phase on a dialog of its own. False only when the update failed. At the update-mode
// prompt, "not found" and "not in update mode" show their message and ask again, without limit.
bool RunPhase(UpdatePhase phase, CZAVFirmwareUpdaterApp& app);

// The message of an error code in an error box.
void ShowErrorMessage(zav::app::Face& face, int code);

// What the framework does with the application: InitInstance, then ExitInstance, whose value is
// the process's exit code.
int RunApplication(CZAVFirmwareUpdaterApp& app, zav::app::Face& face);
