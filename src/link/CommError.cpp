#include "CommError.h"

namespace {
std::string Compose(const std::string& text, int code)
{
    return text + " (Error: " + std::to_string(code) + ") ";
}
}  // namespace

ECommError::ECommError(const std::string& text, int errorCode, std::string advice)
    : std::runtime_error(Compose(text, errorCode)), FText(text), FErrorCode(errorCode), FAdvice(std::move(advice))
{
}

std::string ECommError::UserMessage() const
{
    return FAdvice.empty() ? std::string(what()) : std::string(what()) + "\r" + FAdvice;
}
