#pragma once
// What the user is told for every status byte an operation can end with.
#include <cstdint>
#include <string>

struct StatusText {
    std::string suffix;   // follows the operation name in the status line, e.g. "... OK"
    std::string message;  // message box text; "\r" is a line break; empty for success
    bool alwaysShowBox;   // false: only when the caller asks for a box
};

const StatusText& StatusTextFor(std::uint8_t status);

// Message text with each "\r" turned into a real line break, for terminals and
// widgets that do not treat a lone CR as one.
std::string MessageLines(const std::string& message);
