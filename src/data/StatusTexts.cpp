#include "StatusTexts.h"

#include <map>

namespace {

const std::string kFail = "... FAIL";
const std::string kCheckUpgrade = "\rCheck Upgrade File";

const std::map<int, StatusText>& Table()
{
    static const std::map<int, StatusText> table = [] {
        std::map<int, StatusText> t;
        t[0] = {"... OK", "", false};
        t[1] = {"... Beamdock error",
                "Beamdock error occurred\rClose program and then restart Corvath Beamdock program", true};
        const StatusText disconnection{"... Beamdock Disconnection",
                                       "Beamdock connect error\rCheck Beamdock connection or \rBeamdock Re-Install driver",
                                       true};
        for (int code : {2, 3, 4, 5, 6, 8, 9})
            t[code] = disconnection;
        t[128] = {kFail, "Upgrade data file open error" + kCheckUpgrade, true};
        t[129] = {kFail, "Upgrade data file size different" + kCheckUpgrade, true};
        t[130] = {kFail, "Upgrade data file CRC error" + kCheckUpgrade, true};
        t[131] = {kFail, "Upgrade data file wrong type" + kCheckUpgrade, true};
        t[132] = {kFail, "This file is not old version" + kCheckUpgrade, true};
        t[133] = {kFail, "This file is not useful to Varnolite unit" + kCheckUpgrade, true};
        t[134] = {"... USER STOP", "User Stop...", true};
        t[135] = {kFail, "Program validation failed\rRetry download image", true};
        t[146] = {kFail, "This is not Varnolite module", false};
        t[148] = {kFail, "Check sensor type and Alarm setting", false};
        t[150] = {kFail, "The unit did not keep the settings written", false};
        t[160] = {"... Varnolite Dis-Connect", "Varnolite connect error\rCheck Beamdock and Varnolite connection", false};
        t[161] = {"... Beamdock Connection ERROR", "Beamdock connection error\rCheck Beamdock connection", false};
        t[162] = {kFail, "Varnolite comunication error - no response", false};
        t[176] = {kFail, "Varnolite comunication error - negative response", false};
        t[177] = {kFail, "Varnolite comunication error", false};
        t[178] = {kFail, "Varnolite comunication error - CRC error", false};
        t[192] = {kFail, "Varnolite comunication error\rWrong configuration information\rCheck device", false};
        t[193] = {kFail, "Must calibration before POWER OFF", false};
        t[194] = {kFail, "Zero calibration failed", false};
        t[195] = {kFail, "Hibernation is not allowed", false};
        t[252] = {"... Beamdock isnot found", "Beamdock isnot found\rBeamdock Re-Install driver", true};
        t[253] = {"... O/S is not support", "O/S is not support", true};
        t[254] = {"... Beamdock found 1 more", "Beamdock found one more\rOnly use one Beamdock", true};
        t[255] = {"... Beamdock isnot found(A)", "Beamdock isnot found\rBeamdock Re-Install driver(A)", true};
        return t;
    }();
    return table;
}

}  // namespace

const StatusText& StatusTextFor(std::uint8_t status)
{
    static const StatusText kOther{kFail, "Error ocuured", false};
    const auto& table = Table();
    const auto it = table.find(status);
    return it == table.end() ? kOther : it->second;
}

std::string MessageLines(const std::string& message)
{
    std::string out = message;
    for (char& c : out)
        if (c == '\r')
            c = '\n';
    return out;
}
