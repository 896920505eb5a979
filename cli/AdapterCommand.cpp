// adapters: what discovery sees, so a user can tell why "Beamdock isnot
// found" or "found 1 more" came up without guessing device names.
#include <cstdio>
#include <ostream>

#include "AdapterDiscovery.h"
#include "CliContext.h"
#include "StatusTexts.h"

namespace {

void PrintAdapters(std::ostream& out, const char* source, discovery::AdapterSource& adapters)
{
    std::vector<discovery::Adapter> found;
    const std::uint8_t status = adapters.List(found);
    out << source << ": " << found.size() << " bridge(s)";
    if (status != 0)
        out << ", status " << int(status);
    out << "\n";
    for (const discovery::Adapter& adapter : found) {
        char ids[32];
        std::snprintf(ids, sizeof ids, "%04X:%04X", adapter.vendorId, adapter.productId);
        out << "  " << adapter.portPath << "  " << ids << "  serial " << adapter.serial << "\n";
    }
}

}  // namespace

int CmdAdapters(CliContext& ctx)
{
    if (!ctx.args.isEmpty()) {
        *ctx.err << "beamdock-cli: unexpected argument '" << ctx.args.first().toStdString() << "'\n"
                 << "usage: beamdock-cli adapters\n";
        return kUsageError;
    }
    discovery::QtPortSource qtSource;
    discovery::SysfsCp210xSource sysfsSource;
    PrintAdapters(*ctx.out, "serial port enumeration", qtSource);
    PrintAdapters(*ctx.out, "cp210x driver (sysfs)", sysfsSource);
    const discovery::Result result = discovery::FindAdapterPort(ctx.port, qtSource, sysfsSource);
    if (result.status == 0)
        *ctx.out << "Beamdock port: " << result.portPath << "\n";
    return ReportStatus(ctx, "Find Beamdock", result.status);
}
