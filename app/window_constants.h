// Fixed texts and addresses of the main window.
#pragma once

namespace mbx::app {

inline constexpr char kWindowTitle[] = "Brackwell Mbxvane v1.0";
// The maker's home page, opened by Help.
inline constexpr char kMakerWebAddress[] = "https://mbxvane.org/";
inline constexpr char kExitQuestion[] = "Are you sure you want to exit now?";
// Convert pressed with no mailbox in the list: the count label's own words and the two ways to
// fill it.
inline constexpr char kEmptyListText[] =
    "0 files in the list.\r\nAdd mailboxes with \"Select (.mbx) file(s)...\" or \"Select "
    "folder having (.mbx) file(s)...\" first.";
// Help when the desktop could not hand the maker's page to a web browser; the address follows.
inline constexpr char kHelpNotOpenedText[] =
    "The Help Manual could not be opened in a web browser.\r\nPlease visit ";

} // namespace mbx::app
