#include "mailstore/mime/dates.h"

#include "mailstore/mapi/tags.h"
#include "mailstore/mime/common.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

namespace mbx::mime::detail {

namespace tags = mapi::tags;
using mapi::Bytes;
using mapi::Message;
using mapi::PropertyBag;

std::optional<mapi::FileTime> parseDate(const char* text) {
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    // Zone names come in lower case too ("12:24:23 cst"); GMime only knows them in upper case.
    std::string date(trim(text));
    const auto space = date.find_last_of(" \t");
    if (space != std::string::npos &&
        std::all_of(date.begin() + static_cast<std::ptrdiff_t>(space) + 1, date.end(),
                    [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; })) {
        date = date.substr(0, space + 1) + toUpper(std::string_view(date).substr(space + 1));
    }
    GDateTime* dt = g_mime_utils_header_decode_date(date.c_str());
    if (dt == nullptr) {
        return std::nullopt;
    }
    const auto t = mapi::FileTime::fromUnixSeconds(g_date_time_to_unix(dt));
    g_date_time_unref(dt);
    return t;
}

// Newest Received header = the first one in the block; its date follows the last ';'.
std::optional<mapi::FileTime> receivedDate(GMimeObject* obj) {
    GMimeHeaderList* list = g_mime_object_get_header_list(obj);
    const int n = g_mime_header_list_get_count(list);
    for (int i = 0; i < n; ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
        if (g_ascii_strcasecmp(g_mime_header_get_name(h), "Received") != 0) {
            continue;
        }
        // The raw value as folded in the message: decoding the whole header (routes, hosts,
        // comments) only to read the date at its end costs more than the rest of the dates.
        const std::string_view value = cstr(g_mime_header_get_raw_value(h));
        const auto semi = value.rfind(';');
        if (semi == std::string_view::npos) {
            return std::nullopt;
        }
        std::string date(trim(value.substr(semi + 1)));
        std::replace_if(
            date.begin(), date.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
        return parseDate(date.c_str());
    }
    return std::nullopt;
}

// "Tue May 10 15:27:03 2005" as the separator line carries it; used only when the message has
// neither a Date nor a Received header.
std::optional<mapi::FileTime> separatorDate(std::string_view separator) {
    static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // Find "Mon DD HH:MM:SS YYYY" anywhere in the line.
    for (std::size_t m = 0; m < 12; ++m) {
        auto pos = separator.find(kMonths[m]);
        if (pos == std::string_view::npos) {
            continue;
        }
        const std::string tail(separator.substr(pos + 3));
        int day = 0, hh = 0, mm = 0, ss = 0, year = 0;
        if (std::sscanf(tail.c_str(), " %d %d:%d:%d %d", &day, &hh, &mm, &ss, &year) == 5 &&
            year > 1900) {
            GDateTime* dt = g_date_time_new_utc(year, static_cast<int>(m) + 1, day, hh, mm, ss);
            if (dt == nullptr) {
                return std::nullopt;
            }
            const auto t = mapi::FileTime::fromUnixSeconds(g_date_time_to_unix(dt));
            g_date_time_unref(dt);
            return t;
        }
    }
    return std::nullopt;
}

void setDates(PropertyBag& p, GMimeObject* obj, std::string_view separator) {
    using namespace tags;
    // Dates: the client-submit time from Date, the delivery time from the newest Received header.
    // Each stands in for the other when missing; the separator line's date is the last resort.
    auto submit = parseDate(g_mime_object_get_header(obj, "Date"));
    auto delivery = receivedDate(obj);
    if (!submit && !delivery) {
        submit = separatorDate(separator);
    }
    if (!delivery) {
        delivery = submit;
    }
    if (!submit) {
        submit = delivery;
    }
    if (submit) {
        p.set(ClientSubmitTime, *submit);
        p.set(MessageDeliveryTime, *delivery);
    }
}

} // namespace mbx::mime::detail
