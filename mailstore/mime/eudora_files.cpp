#include "mailstore/mime/common.h"
#include "mailstore/mime/eudora.h"
#include "mailstore/mime/eudora_text.h"
#include "mailstore/mime/repair.h"
#include "platform/file.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <gio/gio.h>
#include <memory>
#include <unordered_set>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mbx::mime::eudora {

namespace fs = std::filesystem;
using namespace text;
using detail::startsWithNoCase;
using detail::toLower;
using detail::trim;

namespace {

// Attachment sizes are 32-bit signed in the stores we write.
constexpr std::uintmax_t kLargestFile = 0x7FFFFFFF;
// Far more attachment lines than any message Eudora wrote.
constexpr std::size_t kMostLines = 2048;

// ---------------------------------------------------------------------------------------------
// Line ends

// Asked of every message: most have CR LF on every line, where a search from one CR to the next
// costs a library call per line, so sixteen bytes are compared with the bytes after them at once.
bool hasLoneCr(std::string_view s) {
    const std::size_t n = s.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; i + 17 <= n; i += 16) {
        const auto* at = reinterpret_cast<const __m128i*>(s.data() + i);
        const __m128i crs = _mm_cmpeq_epi8(_mm_loadu_si128(at), cr);
        const __m128i lfsAfter =
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i + 1)), lf);
        if (_mm_movemask_epi8(_mm_andnot_si128(lfsAfter, crs)) != 0) {
            return true;
        }
    }
#endif
    for (; i < n; ++i) {
        if (s[i] == '\r' && (i + 1 == n || s[i + 1] != '\n')) {
            return true;
        }
    }
    return false;
}

bool isBinaryEncodingHeader(std::string_view line) {
    static constexpr std::string_view kName = "content-transfer-encoding:";
    return startsWithNoCase(line, kName) && toLower(trim(line.substr(kName.size()))) == "binary";
}

// 0: not a boundary line; 1: a part starts; 2: the closing boundary.
int boundaryKind(std::string_view line, const std::vector<std::string>& boundaries) {
    line = trim(line);
    if (!line.starts_with("--")) {
        return 0;
    }
    line.remove_prefix(2);
    for (const auto& b : boundaries) {
        if (line == b) {
            return 1;
        }
        if (line.size() == b.size() + 2 && line.starts_with(b) && line.ends_with("--")) {
            return 2;
        }
    }
    return 0;
}

// Where the line end before the next boundary line after `from` starts, and where that
// boundary line starts; npos for both when there is none.
std::pair<std::size_t, std::size_t> nextBoundary(std::string_view text, std::size_t from,
                                                 const std::vector<std::string>& boundaries) {
    std::size_t best = std::string_view::npos;
    for (const auto& b : boundaries) {
        const std::string delimiter = "--" + b;
        for (std::size_t at = text.find(delimiter, from); at != std::string_view::npos;
             at = text.find(delimiter, at + 1)) {
            if (at > from && (text[at - 1] == '\n' || text[at - 1] == '\r')) {
                best = std::min(best, at);
                break;
            }
        }
    }
    if (best == std::string_view::npos) {
        return {best, best};
    }
    std::size_t eol = best - 1;
    if (text[eol] == '\n' && eol > from && text[eol - 1] == '\r') {
        --eol;
    }
    return {eol, best};
}

// ---------------------------------------------------------------------------------------------
// Attachment lines

// Drops the Mac file type and creator "(JPEG/GKON)" and the id "(0001A2B3)" after a name.
std::string_view withoutMacSuffixes(std::string_view v) {
    for (;;) {
        v = trim(v);
        if (!v.ends_with(')')) {
            return v;
        }
        const auto open = v.rfind('(');
        if (open == std::string_view::npos) {
            return v;
        }
        const std::string_view inner = v.substr(open + 1, v.size() - open - 2);
        const bool typeCreator = inner.size() == 9 && inner[4] == '/';
        if (!typeCreator && !(inner.size() == 8 && isHex(inner))) {
            return v;
        }
        v = v.substr(0, open);
    }
}

// Drops the ": 00000001,4dc7a6d2"-style numbers after an embedded file's name.
std::string_view withoutNumbers(std::string_view v) {
    const auto colon = v.rfind(':');
    if (colon == std::string_view::npos) {
        return v;
    }
    const std::string_view tail = trim(v.substr(colon + 1));
    const bool numbers = !tail.empty() && std::all_of(tail.begin(), tail.end(), [](char c) {
        return c == ',' || c == ' ' || std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
    return numbers ? trim(v.substr(0, colon)) : v;
}

bool usableName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':';
    });
}

std::string baseName(std::string_view path) {
    auto cut = path.find_last_of("\\/");
    if (cut == std::string_view::npos) {
        cut = path.rfind(':'); // Mac folders are separated by colons
    }
    std::string_view name = trim(cut == std::string_view::npos ? path : path.substr(cut + 1));
    return usableName(name) ? std::string(name) : std::string();
}

// The nearest folder, from `start` upwards, that has a sub-folder named as one of `names` (any
// case; the earlier name wins at one level).
fs::path nearestFolder(const fs::path& start, std::initializer_list<std::string_view> names,
                       bool upwards) {
    std::error_code ec;
    fs::path dir = fs::absolute(start, ec);
    if (ec) {
        return {};
    }
    for (;;) {
        fs::path best;
        std::size_t bestRank = names.size();
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            if (!it->is_directory(typeError)) {
                continue;
            }
            const std::string name = toLower(platform::utf8FromPath(it->path().filename()));
            const auto found = std::find(names.begin(), names.end(), name);
            const auto rank = static_cast<std::size_t>(found - names.begin());
            if (rank < bestRank || (rank == bestRank && rank < names.size() && it->path() < best)) {
                best = it->path();
                bestRank = rank;
            }
        }
        if (!best.empty() || !upwards) {
            return best;
        }
        const fs::path parent = dir.parent_path();
        if (parent.empty() || parent == dir) {
            return {};
        }
        dir = parent;
    }
}

} // namespace

Folders findFolders(const fs::path& mailbox, const fs::path& chosen) {
    if (!chosen.empty()) {
        Folders out = findFolders(mailbox, std::vector<fs::path>{chosen});
        out.attachments.resize(1); // the chosen folder alone
        return out;
    }
    return findFolders(mailbox, std::vector<fs::path>{});
}

Folders findFolders(const fs::path& mailbox, const std::vector<fs::path>& chosen) {
    Folders out;
    const fs::path start = mailbox.parent_path().empty() ? fs::path(".") : mailbox.parent_path();
    for (const auto& c : chosen) {
        if (!c.empty() &&
            std::find(out.attachments.begin(), out.attachments.end(), c) == out.attachments.end()) {
            out.attachments.push_back(c);
        }
    }
    const fs::path nearest =
        nearestFolder(start, {"attach", "attachments", "attachments folder"}, true);
    std::error_code ec;
    if (!nearest.empty() &&
        std::none_of(out.attachments.begin(), out.attachments.end(), [&](const fs::path& p) {
            std::error_code same;
            return fs::equivalent(p, nearest, same);
        })) {
        out.attachments.push_back(nearest);
    }
    if (!out.attachments.empty()) {
        if (const fs::path first = fs::absolute(out.attachments.front(), ec); !ec) {
            out.embedded = nearestFolder(first.parent_path(), {"embedded"}, false);
        }
    }
    if (out.embedded.empty()) {
        out.embedded = nearestFolder(start, {"embedded"}, true);
    }
    return out;
}

std::optional<std::string> normaliseLineEnds(std::string_view in) {
    if (!hasLoneCr(in)) {
        return std::nullopt;
    }
    std::vector<std::string> boundaries;
    bool binaryParts = false;
    forEachLine(in, [&](std::string_view line) {
        binaryParts = binaryParts || isBinaryEncodingHeader(line);
    });
    if (binaryParts) {
        boundaries = detail::declaredBoundaries(in);
    }
    std::string out;
    out.reserve(in.size() + in.size() / 32);
    bool inHeaders = true; // the message's own header block comes first
    bool binary = false;
    std::size_t loneRunEnd = 0;
    const std::size_t n = in.size();
    for (std::size_t i = 0; i < n;) {
        const std::size_t end = lineEnd(in, i);
        const std::string_view line = in.substr(i, end - i);
        out.append(line);
        i = end;
        if (i < n && in[i] == '\n') {
            out.push_back('\n');
            ++i;
        } else if (i < n) {
            // A run of CRs before an LF is one line end; otherwise each CR is one (the run's
            // end is remembered so that a long run is scanned once).
            if (i >= loneRunEnd) {
                std::size_t j = i;
                while (j < n && in[j] == '\r') {
                    ++j;
                }
                loneRunEnd = j < n && in[j] == '\n' ? 0 : j;
                i = loneRunEnd == 0 ? j : i;
            }
            ++i;
            out += "\r\n";
        }
        if (!binaryParts) {
            continue;
        }
        if (inHeaders) {
            if (!line.empty()) {
                binary = binary || isBinaryEncodingHeader(line);
                continue;
            }
            inHeaders = false;
            if (binary) {
                binary = false;
                const auto [eol, next] = nextBoundary(in, i, boundaries);
                if (eol == std::string_view::npos) {
                    out.append(in.substr(i));
                    break;
                }
                out.append(in.substr(i, eol - i));
                out += "\r\n";
                i = next;
            }
        } else if (const int kind = boundaryKind(line, boundaries); kind != 0) {
            inHeaders = kind == 1;
        }
    }
    return out;
}

std::vector<DetachedFile> detachedFiles(std::string_view text) {
    static constexpr std::string_view kAttachment = "Attachment Converted:";
    static constexpr std::string_view kEmbedded = "Embedded Content:";
    std::vector<DetachedFile> out;
    // Lines end at CR or LF. Both labels end in the line's first colon, so only the colons of the
    // text are looked at: a label is the line's start when a line end or the text's start comes
    // right before it.
    const auto labelAt = [text](std::size_t colon, std::string_view label) {
        if (colon + 1 < label.size()) {
            return false;
        }
        const std::size_t start = colon + 1 - label.size();
        return (start == 0 || text[start - 1] == '\n' || text[start - 1] == '\r') &&
               startsWithNoCase(text.substr(start), label);
    };
    for (std::size_t colon = text.find(':'); colon != std::string_view::npos;
         colon = text.find(':', colon + 1)) {
        const bool embedded = labelAt(colon, kEmbedded);
        if (!embedded && !labelAt(colon, kAttachment)) {
            continue;
        }
        const std::string_view label = embedded ? kEmbedded : kAttachment;
        const std::size_t start = colon + 1 - label.size();
        const std::size_t end = std::min(text.find_first_of("\r\n", colon), text.size());
        const std::string_view line = text.substr(start, end - start);
        DetachedFile f;
        std::string_view value = trim(line.substr(label.size()));
        if (embedded) {
            f.embedded = true;
            value = withoutNumbers(value);
        } else if (value.starts_with('"')) {
            const auto close = value.find('"', 1);
            value = value.substr(1, close == std::string_view::npos ? close : close - 1);
        } else {
            value = withoutMacSuffixes(value);
        }
        f.line = std::string(trim(line));
        f.name = baseName(value);
        out.push_back(std::move(f));
    }
    return out;
}

std::vector<DetachedFile> sentAttachments(std::string_view value) {
    std::vector<DetachedFile> out;
    std::size_t from = 0;
    while (from < value.size() && out.size() <= kMostLines) {
        // Items end at a semicolon outside quotes.
        std::size_t end = from;
        bool quoted = false;
        while (end < value.size() && (quoted || value[end] != ';')) {
            quoted = value[end] == '"' ? !quoted : quoted;
            ++end;
        }
        std::string_view item = trim(value.substr(from, end - from));
        from = end + 1;
        if (item.size() >= 2 && item.front() == '"' && item.back() == '"') {
            item = trim(item.substr(1, item.size() - 2));
        }
        if (item.empty()) {
            continue;
        }
        DetachedFile f;
        f.line = "X-Attachments: " + std::string(item);
        if (item.find_first_of("\\/") == std::string_view::npos) {
            // A Mac path: folders separated by colons, sometimes with one after the file's name.
            while (item.ends_with(':')) {
                item.remove_suffix(1);
            }
            item = withoutMacSuffixes(item);
        }
        f.name = baseName(item);
        out.push_back(std::move(f));
    }
    return out;
}

std::optional<fs::path> lookUp(const fs::path& folder, std::string_view name) {
    if (!usableName(name) || folder.empty()) {
        return std::nullopt;
    }
    std::error_code ec;
    const fs::path base = fs::canonical(folder, ec);
    if (ec) {
        return std::nullopt;
    }
    fs::path candidate = base / platform::pathFromUtf8(name);
    if (!fs::exists(fs::symlink_status(candidate, ec))) {
        // Eudora ran on file systems that ignore case; the folder may have been copied to one
        // that does not.
        candidate.clear();
        const std::string wanted = toLower(name);
        for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
            if (toLower(platform::utf8FromPath(it->path().filename())) == wanted) {
                candidate = it->path();
                break;
            }
        }
        if (candidate.empty()) {
            return std::nullopt;
        }
    }
    const fs::path real = fs::canonical(candidate, ec);
    if (ec || real.parent_path() != base || !fs::is_regular_file(real, ec) || ec) {
        return std::nullopt;
    }
    return real;
}

namespace {

// Types of the file kinds mail most often carried, for a system whose type database does not
// know an extension: Windows keeps the types in its registry, where many are missing, and GLib
// then makes one up ("application/x-ext-gif"), which mail programs do not understand.
std::string commonMimeTypeOf(std::string_view name) {
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {"bmp", "image/bmp"},          {"csv", "text/csv"},
        {"doc", "application/msword"}, {"eml", "message/rfc822"},
        {"gif", "image/gif"},          {"htm", "text/html"},
        {"html", "text/html"},         {"ics", "text/calendar"},
        {"jpeg", "image/jpeg"},        {"jpg", "image/jpeg"},
        {"mp3", "audio/mpeg"},         {"pdf", "application/pdf"},
        {"png", "image/png"},          {"ppt", "application/vnd.ms-powerpoint"},
        {"rtf", "application/rtf"},    {"tif", "image/tiff"},
        {"tiff", "image/tiff"},        {"txt", "text/plain"},
        {"vcf", "text/vcard"},         {"xls", "application/vnd.ms-excel"},
        {"xml", "application/xml"},    {"zip", "application/zip"},
    };
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    const std::string extension = toLower(std::string(name.substr(dot + 1)));
    for (const auto& [ext, type] : kTypes) {
        if (ext == extension) {
            return std::string(type);
        }
    }
    return {};
}

} // namespace

std::string mimeTypeForName(std::string_view name) {
    const std::string n(name);
    gboolean uncertain = FALSE;
    std::unique_ptr<gchar, decltype(&g_free)> type(
        g_content_type_guess(n.c_str(), nullptr, 0, &uncertain), &g_free);
    std::string found;
    if (type && !uncertain) {
        std::unique_ptr<gchar, decltype(&g_free)> mime(g_content_type_get_mime_type(type.get()),
                                                       &g_free);
        if (mime) {
            found = toLower(mime.get());
        }
    }
    if (found.empty() || found.starts_with("application/x-ext-")) {
        found = commonMimeTypeOf(name);
    }
    return found.empty() ? "application/octet-stream" : found;
}

std::vector<FoundFile> resolveDetached(std::string_view text, std::string_view html,
                                       const std::vector<std::string>& knownContentIds,
                                       const Folders& folders, std::vector<std::string>& notes,
                                       const std::vector<DetachedFile>& sent) {
    std::vector<FoundFile> out;
    std::vector<std::size_t> pictures; // embedded pictures in `out`, in the text's order
    const std::vector<DetachedFile> converted = detachedFiles(text);
    // A file both listed in X-Attachments and converted into the text is one file.
    std::vector<DetachedFile> lines;
    for (const auto& f : sent) {
        if (std::none_of(converted.begin(), converted.end(), [&](const DetachedFile& line) {
                return !line.embedded && !f.name.empty() && toLower(line.name) == toLower(f.name);
            })) {
            lines.push_back(f);
        }
    }
    lines.insert(lines.end(), converted.begin(), converted.end());
    if (lines.size() > kMostLines) {
        // Every line may cost a look through the folder; a text made of such lines is not mail.
        notes.push_back(std::to_string(lines.size()) + " attachment lines, none taken (at most " +
                        std::to_string(kMostLines) + " per message)");
        return out;
    }
    for (const auto& f : lines) {
        std::vector<fs::path> searched;
        if (!f.embedded) {
            searched = folders.attachments;
        } else if (!folders.embedded.empty()) {
            searched.push_back(folders.embedded);
        }
        const char* what = f.embedded ? "embedded picture" : "attachment";
        if (f.name.empty()) {
            notes.push_back(std::string(what) + " not taken, no usable file name: " + f.line);
            continue;
        }
        if (searched.empty()) {
            notes.push_back(std::string(what) + " \"" + f.name + "\" not found: no " +
                            (f.embedded ? "Embedded" : "attachments") + " folder");
            continue;
        }
        std::optional<fs::path> path;
        for (const auto& folder : searched) {
            if ((path = lookUp(folder, f.name))) {
                break;
            }
        }
        std::error_code ec;
        const auto size = path ? fs::file_size(*path, ec) : 0;
        if (!path || ec) {
            std::string where;
            for (const auto& folder : searched) {
                where += (where.empty() ? "" : ", ") + platform::utf8FromPath(folder);
            }
            notes.push_back(std::string(what) + " \"" + f.name + "\" not found in " + where);
            continue;
        }
        if (size > kLargestFile) {
            notes.push_back(std::string(what) + " \"" + f.name + "\" not taken: larger than 2 GB");
            continue;
        }
        FoundFile found;
        found.name = platform::utf8FromPath(path->filename());
        found.data.resize(static_cast<std::size_t>(size));
        std::ifstream file(*path, std::ios::binary);
        if (!file.read(reinterpret_cast<char*>(found.data.data()),
                       static_cast<std::streamsize>(found.data.size()))) {
            notes.push_back(std::string(what) + " \"" + f.name + "\" could not be read");
            continue;
        }
        found.mimeType = mimeTypeForName(found.name);
        if (f.embedded) {
            pictures.push_back(out.size());
        }
        out.push_back(std::move(found));
    }
    if (pictures.empty() || html.empty()) {
        return out;
    }
    // Pictures are linked to the cid: references no part of the message answers: by name where
    // the reference starts with the file's name, otherwise in order when the counts agree.
    std::vector<std::string> cids;
    std::unordered_set<std::string> seen(knownContentIds.begin(), knownContentIds.end());
    const std::string low = toLower(html);
    for (std::size_t at = low.find("cid:"); at != std::string::npos && cids.size() < kMostLines;
         at = low.find("cid:", at + 4)) {
        const std::string_view rest = html.substr(at + 4, 256); // no Content-ID is longer
        const auto end = std::find_if(rest.begin(), rest.end(), [](char c) {
            return c == '"' || c == '\'' || c == ' ' || c == '>' || c == '\r' || c == '\n';
        });
        std::string cid(rest.begin(), end);
        if (!cid.empty() && seen.insert(cid).second) {
            cids.push_back(std::move(cid));
        }
    }
    std::vector<std::size_t> unlinked;
    for (const std::size_t k : pictures) {
        const std::string name = toLower(out[k].name);
        const auto byName = std::find_if(cids.begin(), cids.end(), [&](const std::string& cid) {
            return toLower(cid).starts_with(name);
        });
        if (byName != cids.end()) {
            out[k].contentId = *byName;
            cids.erase(byName);
        } else {
            unlinked.push_back(k);
        }
    }
    if (unlinked.size() == cids.size()) {
        for (std::size_t i = 0; i < unlinked.size(); ++i) {
            out[unlinked[i]].contentId = cids[i];
        }
    }
    return out;
}

} // namespace mbx::mime::eudora
