#include <ostream>

#include "CliContext.h"
#include "StatusTexts.h"

int ReportStatus(CliContext& ctx, const std::string& operation, std::uint8_t status)
{
    if (status != 0) {
        const StatusText& text = StatusTextFor(status);
        *ctx.err << operation << text.suffix << "\n" << MessageLines(text.message) << "\n";
    }
    return status;
}

bool TakeFlag(QStringList& args, const QString& flag)
{
    return args.removeAll(flag) > 0;
}

bool TakeValue(QStringList& args, const QString& option, QString& value)
{
    const int at = args.indexOf(option);
    if (at < 0 || at + 1 >= args.size())
        return false;
    value = args.at(at + 1);
    args.remove(at, 2);
    return true;
}
