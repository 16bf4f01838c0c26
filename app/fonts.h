#pragma once

namespace mbx::app {

// Makes "Tahoma" available: the free Tahoma-compatible files that Wine ships are loaded when they
// are installed; otherwise Qt falls back to the closest sans-serif font.
void loadWindowFonts();

} // namespace mbx::app
