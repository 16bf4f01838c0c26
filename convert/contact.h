// Where users are sent for help when the mail-store session cannot be created.
#pragma once

namespace mbx::convert {

inline constexpr const char* kSupportEmail = "support@mbxvane.org";
inline constexpr const char* kHelpVideoUrl = "https://mbxvane.org/help/outlook-video";

} // namespace mbx::convert
