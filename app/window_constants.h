// Fixed texts and addresses of the main window.
#pragma once

namespace mbx::app {

inline constexpr char kWindowTitle[] = "Brackwell Mbxvane v1.0";
// The maker's home page, opened by Help.
inline constexpr char kMakerWebAddress[] = "https://mbxvane.org/";
inline constexpr char kExitQuestion[] = "Are you sure you want to exit now?";

} // namespace mbx::app
