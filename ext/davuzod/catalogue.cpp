// The algorithm catalogue and the version: the two module functions.
#include "catalogue.h"

#include <libstemmer.h>

#include "../binding/binder.h"
#include "../binding/ref.h"
#include "statics.h"

namespace davuzod {

const char algorithms_doc[] =
    "Get a list of the names of the available stemming algorithms.\n"
    "    \n"
    "    Note that there are also aliases for these algorithm names, which are not\n"
    "    included in this list by default.  If the 'aliases' keyword parameter is\n"
    "    False, this list is guaranteed to contain precisely one entry for each\n"
    "    available stemming algorithm.  Otherwise, all known aliases for algorithms\n"
    "    will be included in the list.\n"
    "\n"
    "    Note that the classic Porter stemming algorithm for English is\n"
    "    available by default: although this has been superseded by an improved\n"
    "    algorithm, the original algorithm may be of interest to information\n"
    "    retrieval researchers wishing to reproduce results of earlier\n"
    "    experiments.  Most users will want to use the \"english\" algorithm,\n"
    "    instead of the \"porter\" algorithm.\n"
    "\n"
    "    ";

const char version_doc[] =
    "Get the version string of the stemming module.\n"
    "\n"
    "    This version number is for the Davuzod module as a whole (not for an\n"
    "    individual stemming algorithm).\n"
    "\n"
    "    ";

namespace {

constexpr PyObject** algorithms_param_names[] = {&module_statics.text.aliases, nullptr};
constexpr ParamTable algorithms_params{"algorithms", algorithms_param_names, 1, 0};

}  // namespace

// aliases is accepted and held for the call, never examined: libstemmer lists
// each algorithm once, whatever the caller asks.
PyObject* algorithms_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    Ref aliases[max_params];
    if ((nargs != 0 || kwnames != nullptr) && !bind_vector(algorithms_params, args, nargs, kwnames, aliases)) {
        return nullptr;
    }
    Ref names = Ref::steal(PyList_New(0));
    if (!names) {
        return nullptr;
    }
    for (const char** entry = sb_stemmer_list(); *entry != nullptr; ++entry) {
        Ref raw = Ref::steal(PyBytes_FromString(*entry));
        if (!raw) {
            return nullptr;
        }
        Ref name = Ref::steal(PyObject_CallMethodOneArg(raw.get(), text().decode, text().ascii));
        if (!name || PyList_Append(names.get(), name.get()) < 0) {
            return nullptr;
        }
    }
    return names.release();
}

PyObject* version_entry(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    if (!bind_no_arguments("version", nargs, kwnames)) {
        return nullptr;
    }
    return Py_NewRef(text().version_text);
}

}  // namespace davuzod
