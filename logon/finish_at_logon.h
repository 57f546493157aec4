// The one-shot re-run at the next logon: a value under the current user's
// Run key that starts this program again with "-FINISH".
#pragma once

#include <cstdint>

// A non-zero `install` writes the value, 0 deletes it. Returns 1 when the
// write or delete succeeded (deleting a value that is not there counts), 0
// otherwise; nothing is traced.
std::int32_t SetFinishAtLogon(std::int32_t install);
