#pragma once
// Small value types that every view interface shares: the main window's, the
// sensor tools' and their console and test counterparts. Plain data, so the
// workflows that use them build without any widget library.
#include <QString>

#include <cstdint>

struct RColour {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const RColour&) const = default;
};

namespace colours {
constexpr RColour kWhite{255, 255, 255};
constexpr RColour kBlack{0, 0, 0};
constexpr RColour kGreen{0, 255, 0};
constexpr RColour kRed{255, 0, 0};
constexpr RColour kBlue{0, 0, 255};
constexpr RColour kMaroon{128, 0, 0};
}  // namespace colours

enum class BoxIcon { Error, Information };

// An open or save dialog. The filter is in the "description|*.ext" form the
// settings and the messages use; the view turns it into its own syntax.
struct RFileRequest {
    QString title;
    QString filter;
    QString defaultSuffix;  // without the dot
    QString folder;
    QString fileName;       // proposed name (save dialogs), may be empty
};
