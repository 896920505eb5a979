// A configuration file of arbitrary bytes: it is either refused with one of
// the two messages or read into a record; never read past its end.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <span>

#include "ConfigFile.h"
#include "ScratchDir.h"
#include "SensorTypes.h"
#include "TextHelpers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = ScratchPath("fuzz.cfg");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const RZELCFG current = DefaultConfig();
    RZELCFG out = current;
    const ConfigFileResult result = ReadConfigFile(path, current, out);
    if (result != ConfigFileResult::Ok && std::memcmp(&out, &current, sizeof out) != 0)
        __builtin_trap();  // a refused file must leave the configuration alone

    // The same bytes as a body of every version, and as text for the parsers.
    for (std::int32_t version = -1; version <= 9; ++version) {
        RZELCFG record{};
        UnpackFileRecord(version, std::span<const std::uint8_t>(data, size), record);
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)NormalizeNumber(NumberForm::Integer, text);
    (void)NormalizeNumber(NumberForm::Decimal, text);
    (void)ParseWord(text, 1, 128);
    (void)SplitText(text, ",", 6);
    (void)ParseSensorEntry(text);
    return 0;
}
