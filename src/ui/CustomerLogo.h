#pragma once
// The maker's logo for the customer panel, drawn rather than shipped as a
// picture file.
#include <QPixmap>

QPixmap CustomerLogo();

namespace customer {
inline constexpr const char* kWebPage = "https://www.example.com/";
inline constexpr const char* kSupportMail = "support@example.com";
}  // namespace customer
