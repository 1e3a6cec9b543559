// Tool > Verify's pass: the core's verify pass over one file, its findings
// gathered for the Findings page.
#pragma once

#include <functional>

#include "app/findings/findings_page.h"

namespace kalvrin {

// Every rule on; the MAC rules under the key when it is 16 hex digits,
// skipped (and said so) otherwise. Card numbers in the findings' texts are
// masked whenever maskCardNumbers says so at the time of the run.
VerifyRunner MakeVerifyRunner(std::function<bool()> maskCardNumbers = {});

}  // namespace kalvrin
