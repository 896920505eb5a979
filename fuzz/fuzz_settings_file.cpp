// A LUMBRA.INI of arbitrary bytes: reading the settings from it, listing and
// rewriting a key must never crash or hang, the values stay inside their
// bounds, and a key written reads back. The text is parsed in memory; one
// input in 64 also goes through the file on disk, folders and all.
#include <cstdint>
#include <fstream>

#include "DeviceSettings.h"
#include "ProfileFile.h"
#include "ScratchDir.h"

namespace {

void CheckBounds(const LoadedSettings& settings)
{
    const RDeviceCFG& cfg = settings.cfg;
    if (cfg.mUnitPacketSize < 1 || cfg.mUnitPacketSize > 128 || cfg.mEEPROMReadAddress > cfg.mEEPROMMaxAddress ||
        cfg.mFLASHDownloadRetry < 1 || cfg.mFLASHDownloadRetry > 5 || cfg.mLogInterval < 1 ||
        cfg.mLogDisplayTime < std::min(cfg.mLogInterval * 100, 60000) || cfg.mEVENTPacketSize < 1)
        __builtin_trap();
    for (const RSensorType& sensor : settings.sensors)
        if (!(sensor.mMax - 0.1f > sensor.mMin) || sensor.mSpec.size() != 2)
            __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const ProfileText text(bytes);
    CheckBounds(SettingsFromProfile(text, "/nonexistent/"));
    for (const std::string& key : text.Keys("SENSOR"))
        (void)text.ReadString("SENSOR", key, "");
    const std::optional<std::string> written = text.WithValue("WINDOW", "WIDTH", "640");
    // These names are plain: the write is taken and reads back, and the
    // text before the changed line is kept byte for byte.
    if (!written || ProfileText(*written).ReadInt("WINDOW", "WIDTH", 0) != 640)
        __builtin_trap();

    if (size % 64 == 0) {
        static const std::string programDir = ScratchDir().path().toStdString() + "/";
        const std::string path = programDir + "LUMBRA.INI";
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        CheckBounds(LoadSettings(programDir));
        ProfileFile profile(path);
        if (profile.WriteString("WINDOW", "WIDTH", "640") && profile.ReadInt("WINDOW", "WIDTH", 0) != 640)
            __builtin_trap();
    }
    return 0;
}
