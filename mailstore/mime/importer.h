// The import of one parsed message into the MAPI model. Its work is spread over units by
// concern: bodies (bodies.cpp), attachments (attachments.cpp), and the message itself with its
// headers (import.cpp).
#pragma once

#include "mailstore/mapi/property.h"
#include "mailstore/mime/import.h"

#include <cstdint>
#include <gmime/gmime.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::mime::detail {

class Importer {
public:
    Importer(const ImportOptions& options, std::vector<std::string>& notes)
        : options_(options), notes_(notes) {}
    void fill(mapi::Message& out, GMimeMessage* msg, std::string_view rawHeaders,
              std::string_view rawBody, std::string_view separator, bool topLevel);

private:
    struct Body {
        std::optional<std::string> plain; // UTF-8
        std::optional<std::string> html;  // the part's own bytes
        std::optional<std::int32_t> htmlCodePage;
        std::optional<std::int32_t> plainCodePage;
    };

    // Bodies
    void content(GMimeObject* obj, Body& body, mapi::Message& out);
    bool takeBody(GMimeObject* obj, Body& body, mapi::Message& out);
    void takeRelated(GMimeMultipart* related, Body& body, mapi::Message& out);
    bool setText(GMimePart* part, Body& body);
    void eudoraMarkup(Body& body);

    // Attachments
    void attachTree(GMimeObject* obj, bool inRelated, mapi::Message& out);
    void attach(GMimeObject* obj, bool inRelated, mapi::Message& out);
    void attachDetached(const Body& body, GMimeObject* message, mapi::Message& out);

    const ImportOptions& options_;
    std::vector<std::string>& notes_;
};

} // namespace mbx::mime::detail
