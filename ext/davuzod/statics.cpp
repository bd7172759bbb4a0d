// The process-wide record and the creation of its constant objects.
#include "statics.h"

#include "../binding/ref.h"

namespace davuzod {

ModuleStatics module_statics;

namespace {

struct TextSource {
    PyObject* TextConstants::*field;
    const char* text;
};

constexpr TextSource text_sources[] = {
#define DAVUZOD_TEXT_SOURCE(field, text) {&TextConstants::field, text},
    DAVUZOD_TEXT_CONSTANTS(DAVUZOD_TEXT_SOURCE)
#undef DAVUZOD_TEXT_SOURCE
};

}  // namespace

int create_constants() noexcept {
    if (module_statics.constants_created) {
        return 0;
    }
    TextConstants& constants = module_statics.text;
    for (const TextSource& source : text_sources) {
        PyObject*& slot = constants.*(source.field);
        if (slot != nullptr) {
            continue;  // made by an earlier attempt that failed part way
        }
        Ref value = Ref::steal(PyUnicode_InternFromString(source.text));
        // Keyword matching compares cached hashes before any character.
        if (!value || PyObject_Hash(value.get()) == -1) {
            return -1;
        }
        slot = value.release();
    }
    if (module_statics.zero == nullptr && (module_statics.zero = PyLong_FromLong(0)) == nullptr) {
        return -1;
    }
    if (module_statics.one == nullptr && (module_statics.one = PyLong_FromLong(1)) == nullptr) {
        return -1;
    }
    module_statics.constants_created = true;
    return 0;
}

}  // namespace davuzod
