// The interpreter version check of the exec step, with a hook for testing other versions.
#include "version_check.h"

#include <Python.h>

#include <cstring>

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

// Lets the tests see the warning for interpreters they cannot run (through
// ctypes); not part of the module's namespace. Returns 1 and fills `out` on a
// mismatch, 0 otherwise.
extern "C" Py_EXPORTED_SYMBOL int _Davuzod_version_warning(unsigned long running_version, char* out,
                                                          std::size_t out_size) {
    char message[davuzod::version_warning_size];
    if (!davuzod::version_mismatch_warning(running_version, message) || out_size == 0) {
        return 0;
    }
    std::strncpy(out, message, out_size - 1);
    out[out_size - 1] = '\0';
    return 1;
}
