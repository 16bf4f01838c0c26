// Column sets of the template tables of a new store, as Outlook creates them ([MS-PST]
// §2.4.4.4.1, §2.4.4.5.1, §2.4.4.6.1, §2.4.5.3.1, §2.4.6.1.1, §2.4.8.6.2.1). Folder and message
// tables reuse the template layouts.
#pragma once

#include "mailstore/pst/ltp/tc.h"

namespace mbx::pst::templates {

const TcLayout& hierarchy();
const TcLayout& contents();
const TcLayout& assocContents();
const TcLayout& searchContents();
const TcLayout& attachments();
const TcLayout& recipients();

} // namespace mbx::pst::templates
