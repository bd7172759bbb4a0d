// The interpreter version check of the exec step.
#include "version_check.h"

#include <Python.h>

namespace davuzod {

bool version_mismatch_warning(unsigned long running_version,
                              char (&message)[version_warning_size]) noexcept {
    // Micro version, release level and serial are not compared.
    const int running_major = static_cast<int>((running_version >> 24) & 0xff);
    const int running_minor = static_cast<int>((running_version >> 16) & 0xff);
    if (running_major == PY_MAJOR_VERSION && running_minor == PY_MINOR_VERSION) {
        return false;
    }
    PyOS_snprintf(message, version_warning_size,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  PY_MAJOR_VERSION, PY_MINOR_VERSION, "Davuzod", "does not match", running_major,
                  running_minor);
    return true;
}

}  // namespace davuzod
