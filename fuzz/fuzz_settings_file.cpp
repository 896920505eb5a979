// A LUMBRA.INI of arbitrary bytes: loading it, listing and rewriting a key
// must never crash, hang or write outside the program directory.
#include <QTemporaryDir>

#include <cstdint>
#include <fstream>

#include "DeviceSettings.h"
#include "ProfileFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir dir;
    const std::string programDir = dir.path().toStdString() + "/";
    const std::string path = programDir + "LUMBRA.INI";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const LoadedSettings settings = LoadSettings(programDir);
    if (settings.cfg.mUnitPacketSize < 1 || settings.cfg.mUnitPacketSize > 128)
        __builtin_trap();
    if (settings.cfg.mEEPROMReadAddress > settings.cfg.mEEPROMMaxAddress)
        __builtin_trap();
    ProfileFile profile(path);
    for (const std::string& key : profile.Keys("SENSOR"))
        (void)profile.ReadString("SENSOR", key, "");
    profile.WriteString("WINDOW", "WIDTH", "640");
    if (profile.ReadInt("WINDOW", "WIDTH", 0) != 640 && size < static_cast<std::size_t>(ProfileFile::kMaxBytes)) {
        // A write may be refused only for names that would not read back;
        // these names are plain, so the value must be there.
        __builtin_trap();
    }
    return 0;
}
