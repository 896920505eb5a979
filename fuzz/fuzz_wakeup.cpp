// The wake-up on its own: every frame gets an arbitrary answer (a NAK, an
// ACK split over two reads, three bytes with a wrong CRC, an ACK behind
// garbage). It ends awake, with no acknowledge, or with a channel error, and
// its trace lines come in threes of bytes it accepted.
#include <cstdint>
#include <memory>

#include "LineScript.h"
#include "LocalZone.h"
#include "ZelComms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool zonePinned = PinLocalZone();
    (void)zonePinned;
    auto script = std::make_shared<TLineScript>(data, size);
    TComZEL link;
    bool checkTimeSeen = false;
    link.SetOnZELEvent([&checkTimeSeen](TComZEL*, const QDateTime&, const QString& log) {
        if (log.startsWith(QStringLiteral("[CHECK TIME] ")))
            checkTimeSeen = true;
        else if (log.size() % 3 != 0 || log.size() < 9)  // "XX " per byte, a whole reply at least
            __builtin_trap();
    });
    link.SetChannel(std::make_unique<TMemoryChannel>([script](const std::vector<std::uint8_t>&) { return script->Next(); }));
    link.ComOpen("memory");
    const std::uint8_t status = link.ConnectZEL(0.03f);
    if ((status != 0 && status != 160 && status != 161) || !checkTimeSeen)
        __builtin_trap();
    return 0;
}
