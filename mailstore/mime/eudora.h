// Habits of the mailboxes Eudora wrote, undone for the import: Mac line ends, attachments saved
// as separate files with one line per file left in the text, and Eudora's pseudo-tags around
// HTML, flowed and enriched text.
#pragma once

#include "mailstore/mapi/property.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::mime::eudora {

// Where Eudora kept the files a mailbox's messages refer to; an empty path is "not known".
struct Folders {
    // attachments ("Attach", "Attachments Folder"), searched in this order
    std::vector<std::filesystem::path> attachments;
    std::filesystem::path embedded; // inline pictures ("Embedded")
};

// The attachments folder: `chosen` when not empty, else the nearest folder named "Attach",
// "Attachments" or "Attachments Folder" (any case) beside the mailbox or beside one of its
// parent folders. The "Embedded" folder is looked for the same way, first beside the chosen
// attachments folder.
Folders findFolders(const std::filesystem::path& mailbox, const std::filesystem::path& chosen = {});
// Several chosen folders, searched in the order given, then the nearest attachments folder as
// above; "Embedded" is looked for first beside the first of them.
Folders findFolders(const std::filesystem::path& mailbox,
                    const std::vector<std::filesystem::path>& chosen);

// The message with every line end that is a lone CR (Mac) or a run of CRs before an LF turned
// into CRLF; nothing when there is none. The content of parts sent as 8-bit binary is copied as
// it stands.
std::optional<std::string> normaliseLineEnds(std::string_view message);

// One "Attachment Converted:" or "Embedded Content:" line at the start of a line of the text,
// or one file of an "X-Attachments:" header (the files the user attached to mail they sent).
struct DetachedFile {
    bool embedded = false;
    std::string line; // the line as it stands
    std::string name; // the file's base name; empty when the line names no usable file name
};
std::vector<DetachedFile> detachedFiles(std::string_view text);
// The files an "X-Attachments:" header value names: Windows paths separated by semicolons
// ("C:\\Eudora\\report.doc; C:\\photo.jpg;") or Mac paths with colons between folders
// ("Macintosh HD:Documents:report.doc"), possibly quoted.
std::vector<DetachedFile> sentAttachments(std::string_view headerValue);

// The file `name` inside `folder` and nowhere else: a plain base name only, matched exactly or
// else ignoring ASCII case, and refused when it resolves (through links) outside the folder or
// is not a regular file.
std::optional<std::filesystem::path> lookUp(const std::filesystem::path& folder,
                                            std::string_view name);

// A file that an attachment line names, read from its folder.
struct FoundFile {
    std::string name; // as the file is named in its folder
    mapi::Bytes data;
    std::string mimeType;
    std::string contentId; // the cid: reference of the HTML body that shows it, or empty
};
// The files the text's attachment lines (and `sent`, from the X-Attachments header) name, read
// from `folders`, the first folder that has the file. Embedded pictures are linked to the cid:
// references of `html` that are not among `knownContentIds`. Lines whose file is missing,
// unreadable or named unsafely are described in `notes` and otherwise skipped.
std::vector<FoundFile> resolveDetached(std::string_view text, std::string_view html,
                                       const std::vector<std::string>& knownContentIds,
                                       const Folders& folders, std::vector<std::string>& notes,
                                       const std::vector<DetachedFile>& sent = {});

// MIME type of a file from its name, through the system's type database (with a table of common
// kinds for names it does not know); unknown names are application/octet-stream.
std::string mimeTypeForName(std::string_view name);

// Plain text (CRLF line ends) and, when the text carried HTML or enriched text, an HTML body made
// from text in which Eudora's pseudo-tags (<x-html>, <x-flowed>, <x-rich>) appear. Nothing when
// the text has none.
struct Bodies {
    std::string plain;
    std::optional<std::string> html;
};
std::optional<Bodies> renderMarkup(std::string_view text);
// An HTML body with Eudora's <x-html> and </x-html> pseudo-tags taken out; nothing when it has
// none.
std::optional<std::string> withoutXHtml(std::string_view html);

// format=flowed text (RFC 3676, DelSp=no) with its soft line breaks joined.
std::string unwrapFlowed(std::string_view text);
// text/enriched (RFC 1896) as an HTML fragment.
std::string enrichedToHtml(std::string_view text);
// A readable plain-text rendition of HTML (CRLF line ends).
std::string htmlToText(std::string_view html);

} // namespace mbx::mime::eudora
