// Text for HTML and XML: the file's single-byte texts as UTF-8 with the
// markup characters escaped and control characters shown as \xNN, which
// XML 1.0 does not allow in any form.
#pragma once

#include <string>
#include <string_view>

namespace kalvrin::report {

// A text of the transaction file (Latin-1).
std::string FileText(std::string_view latin1);
// A path: the system's bytes, UTF-8 when they are, else read as Latin-1.
std::string PathText(std::string_view path);

}  // namespace kalvrin::report
