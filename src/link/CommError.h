#pragma once
#include <stdexcept>
#include <string>

// Raised by the serial channel. The message is the channel's text followed by
// " (Error: %d) " with the operating system's error number (-1 when none
// applies); `Advice` carries an optional extra line for the user.
class ECommError : public std::runtime_error {
public:
    ECommError(const std::string& text, int errorCode, std::string advice = {});
    int ErrorCode() const { return FErrorCode; }
    const std::string& Text() const { return FText; }
    const std::string& Advice() const { return FAdvice; }
    // Message plus advice on its own line ("\r"), ready for a message box.
    std::string UserMessage() const;

private:
    std::string FText;
    int FErrorCode;
    std::string FAdvice;
};

namespace commtext {
inline constexpr const char* kAlreadyOpen = "Port already assigned (open)";
inline constexpr const char* kAccessError = "Error accessing specified device";
inline constexpr const char* kInvalidHandle = "Invalid device handle, access denied";
inline constexpr const char* kTimeoutsError = "Error updating CommTimeouts";
inline constexpr const char* kLineStateError = "Error updating DataControlBlock";
inline constexpr const char* kBufferError = "Error initializing Read/Write Buffers";
inline constexpr const char* kWriteError = "Write error";
inline constexpr const char* kReadError = "Read error";
}  // namespace commtext
