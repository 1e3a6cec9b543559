// Tool > Verify's pass: the core's verify pass over one file, its findings
// gathered for the Findings page.
#pragma once

#include "app/findings_page.h"

namespace kalvrin {

// Every rule on; the MAC rules under the key when it is 16 hex digits,
// skipped (and said so) otherwise.
VerifyRunner MakeVerifyRunner();

}  // namespace kalvrin
