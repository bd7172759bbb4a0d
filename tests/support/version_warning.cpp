// version_warning: a library for tests. It runs the module's interpreter
// version check for any version number, so that the tests see the warning the
// module would give under interpreters they cannot run; they load it with
// ctypes into the interpreter, which provides the C API it calls.
#include <cstddef>
#include <cstring>

#include "../../ext/davuzod/version_check.h"

// 1 with the warning's text in `out` when `running_version` (a Py_Version
// value) is not the version the module is built for, 0 otherwise.
extern "C" __attribute__((visibility("default"))) int version_warning(unsigned long running_version, char* out,
                                                                      std::size_t out_size) {
    char message[davuzod::version_warning_size];
    if (!davuzod::version_mismatch_warning(running_version, message) || out_size == 0) {
        return 0;
    }
    std::strncpy(out, message, out_size - 1);
    out[out_size - 1] = '\0';
    return 1;
}
