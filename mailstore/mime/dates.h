// The message's dates: Date, the newest Received header, and the mailbox separator line.
#pragma once

#include "mailstore/mapi/property.h"

#include <gmime/gmime.h>
#include <optional>
#include <string_view>

namespace mbx::mime::detail {

std::optional<mapi::FileTime> parseDate(const char* text);
// The date of the newest Received header.
std::optional<mapi::FileTime> receivedDate(GMimeObject* obj);
// "Tue May 10 15:27:03 2005" as the separator line carries it.
std::optional<mapi::FileTime> separatorDate(std::string_view separator);
// PidTagClientSubmitTime and PidTagMessageDeliveryTime.
void setDates(mapi::PropertyBag& p, GMimeObject* obj, std::string_view separator);

} // namespace mbx::mime::detail
