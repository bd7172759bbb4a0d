// The check of the running interpreter against the one the module was built for.
#pragma once

#include <cstddef>

namespace davuzod {

inline constexpr std::size_t version_warning_size = 200;

// When the major.minor of `running_version` (a Py_Version value) differs from
// the build's, writes the warning text into `message` and returns true.
bool version_mismatch_warning(unsigned long running_version,
                              char (&message)[version_warning_size]) noexcept;

}  // namespace davuzod
