# Every target builds and runs inside the project's Debian sid root
# (tools/devroot), which the first use creates; see the README. From the host
# each target enters the root and runs there; inside the root (where the root's
# marker file stands at /, so `tools/devroot run make TARGET` works too) it runs
# as it is. IN_ROOT=1 says the same for a host that has the tools itself
# (DEVROOT=host).

RELEASE_DIR := build/release
DEBUG_DIR := build/debug
ASAN_DIR := build/asan
PUBLIC_DIR := build/public
PYTHON := python3.14
PYTHON_DEBUG := python3.14-dbg
IN_ROOT ?= $(if $(wildcard /.devroot-packages),1,0)
# The libraries lexvale works with but does not need. make check runs the suite
# with them (the sanitizer run) and without them (check-installed, where they
# are hidden from the root): a test that uses one skips without it.
OPTIONAL_MODULES := sklearn scipy pandas numpy pyarrow joblib dask distributed nltk snowballstemmer apsw

.PHONY: build build-debug build-asan build-public test test-release test-release-native test-release-pure-1 \
	test-release-pure-2 test-debug check check-installed dist demo bench

ifeq ($(IN_ROOT),1)

# The release module, and the same sources against the debug interpreter,
# whose own assertions and reference accounting check the module's.
CONFIGURE_RELEASE = cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=/usr/bin/$(PYTHON)
$(RELEASE_DIR)/build.ninja:
	$(CONFIGURE_RELEASE)

$(DEBUG_DIR)/build.ninja:
	cmake -S . -B $(DEBUG_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPython_EXECUTABLE=/usr/bin/$(PYTHON_DEBUG)

build: $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR)
	cmake --build $(RELEASE_DIR) --target fail_large_alloc version_warning

build-debug: $(DEBUG_DIR)/build.ninja
	cmake --build $(DEBUG_DIR)
	cmake --build $(DEBUG_DIR) --target fail_large_alloc version_warning

$(ASAN_DIR)/build.ninja:
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDAVUZOD_SANITIZE=ON -DPython_EXECUTABLE=/usr/bin/$(PYTHON)

# The same sources with only the public C API: what a free-threaded or a newer
# interpreter builds (see ext/davuzod/interpreter_internals.h).
$(PUBLIC_DIR)/build.ninja:
	cmake -S . -B $(PUBLIC_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DDAVUZOD_LTO=OFF -DDAVUZOD_PUBLIC_API_ONLY=ON \
		-DPython_EXECUTABLE=/usr/bin/$(PYTHON)

build-public: $(PUBLIC_DIR)/build.ninja
	cmake --build $(PUBLIC_DIR)
	cmake --build $(PUBLIC_DIR) --target fail_large_alloc version_warning

build-asan: $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR)
	cmake --build $(ASAN_DIR) --target version_warning

# The release build runs the whole suite, a folder per concern. The debug
# interpreter, whose own assertions and reference accounting check the native
# code's, runs the tests of the native modules (tests/davuzod, tests/analysis);
# the tests of the pure-Python side (the package, its command line, the
# documentation and examples) check nothing more there, and only the release
# run has them. Each part's report is shown whole when it ends.
NATIVE_TESTS = tests/davuzod tests/analysis tests/sqlite
PURE_PYTHON_TESTS = tests/lexvale tests/cli tests/docs
# The package's per-thread Davuzod objects, whose references the debug run checks too.
DEBUG_ALSO = tests/lexvale/test_stemmers.py

# make test runs the suite in four parts, two at a time, so that both cores
# stay busy to the end: the release run of the native modules' tests beside
# the debug run, then the release run of the pure-Python tests in two halves
# as the cores come free. (pytest-xdist, which make check uses, costs more
# processor time than it saves here.)
PURE_PYTHON_FIRST_HALF = tests/cli
PURE_PYTHON_SECOND_HALF = $(filter-out $(PURE_PYTHON_FIRST_HALF),$(PURE_PYTHON_TESTS))
PYTEST_PROCESSES ?= -n 2
RELEASE_PYTEST = PYTHONPATH=$(CURDIR)/$(RELEASE_DIR):$(CURDIR)/src $(PYTHON) -m pytest -p no:cacheprovider

test: build build-debug
	@$(MAKE) --no-print-directory -j2 --output-sync=recurse test-release-native test-debug \
		test-release-pure-1 test-release-pure-2

# The whole release run in one.
test-release:
	$(RELEASE_PYTEST) $(PYTEST_PROCESSES)

test-release-native:
	$(RELEASE_PYTEST) $(NATIVE_TESTS)

test-release-pure-1:
	$(RELEASE_PYTEST) $(PURE_PYTHON_FIRST_HALF)

test-release-pure-2:
	$(RELEASE_PYTEST) $(PURE_PYTHON_SECOND_HALF)

test-debug:
	PYTHONPATH=$(CURDIR)/$(DEBUG_DIR):$(CURDIR)/src $(PYTHON_DEBUG) -m pytest -p no:cacheprovider $(NATIVE_TESTS) \
		$(DEBUG_ALSO)

# The whole suite on the AddressSanitizer and UndefinedBehaviorSanitizer build
# (the interpreter itself is not instrumented, so the runtimes are preloaded and
# Python's own allocator steps aside), then a representative part under
# valgrind's memcheck. Any report fails the run.
SANITIZER_ENV = LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 DAVUZOD_CONFORMANCE_WORDS=20000
VALGRIND_TESTS = $(addprefix tests/davuzod/,test_stemmer_class.py test_cache.py test_stemming.py test_binding.py \
	test_catalogue.py test_conformance.py)

PUBLIC_API_TESTS = $(addprefix tests/davuzod/,test_stemming.py test_cache.py test_stemmer_class.py test_module.py \
	test_private_symbols.py test_memory_failures.py)

check: build build-asan build-public
	$(PYTHON) tools/internal_names.py
	$(PYTHON) tools/private_symbols.py $(RELEASE_DIR)/Davuzod.*.so
	$(PYTHON) tools/private_symbols.py $(RELEASE_DIR)/lexvale/_analysis.*.so tools/private_symbols_analysis.allow
	$(PYTHON) tools/private_symbols.py $(RELEASE_DIR)/lexvale/sqlite-extension/lexvale-fts5.so tools/private_symbols_fts5.allow
	PYTHONPATH=$(CURDIR)/$(PUBLIC_DIR):$(CURDIR)/src $(PYTHON) -m pytest -q -p no:cacheprovider $(PUBLIC_API_TESTS)
	$(SANITIZER_ENV) PYTHONPATH=$(CURDIR)/$(ASAN_DIR):$(CURDIR)/src $(PYTHON) -m pytest $(PYTEST_PROCESSES) -p no:cacheprovider
	PYTHONMALLOC=malloc DAVUZOD_CONFORMANCE_WORDS=400 PYTHONPATH=$(CURDIR)/$(RELEASE_DIR):$(CURDIR)/src valgrind --tool=memcheck --error-exitcode=99 \
		--leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
		$(PYTHON) -m pytest -q -p no:cacheprovider $(VALGRIND_TESTS)

# The sdist, then the wheel built from that sdist (so the sdist is shown to
# hold all that a build needs), and checks that no build output slipped in and
# that the examples, which users run from the sdist, and the pages of docs/,
# which the README links to, are there.
# The wheel's module carries libstemmer inside it; auditwheel tags the wheel
# for the manylinux platforms that the symbol versions it uses allow, and
# grafts nothing into it (a library it would graft fails the build).
dist:
	rm -rf dist
	$(PYTHON) -m build --no-isolation --outdir dist .
	! tar tzf dist/*.tar.gz | grep -E '^[^/]+/(build|dist|[.]hypothesis|[.]pytest_cache)/|[.]so$$'
	for f in $$(find examples docs -type f ! -path '*/__pycache__/*'); do \
		tar tzf dist/*.tar.gz | grep -qx "[^/]*/$$f" || { echo "missing from the sdist: $$f"; exit 1; }; \
	done
	auditwheel show dist/*-linux_*.whl
	auditwheel repair --wheel-dir dist dist/*-linux_*.whl
	rm dist/*-linux_*.whl
	! $(PYTHON) -m zipfile -l dist/*.whl | grep -F '.libs/'

# The wheel installed into a fresh virtual environment (test tools from the
# root's own packages) and the suite run against that installation, away from
# the build tree: a file missing from the wheel fails here. It runs where
# libstemmer's shared library cannot be loaded and the optional libraries
# (OPTIONAL_MODULES) are not installed (the root entered with them hidden, see
# below), as on a machine with neither: a module that needs libstemmer fails to
# import, and the tests of pipelines with scikit-learn, pandas, Dask... skip.
# Then mypy, in strict mode, over the stubs as installed and a small typed program.
VENV := /tmp/davuzod-venv
check-installed: dist
	@if $(PYTHON) -c "import ctypes; ctypes.CDLL('libstemmer.so.0d')" 2>/dev/null; then \
		echo "check-installed: libstemmer's shared library is loadable here; run 'make check-installed' from outside the root" >&2; exit 1; fi
	@present=$$($(PYTHON) -c "import importlib.util; print(*(m for m in '$(OPTIONAL_MODULES)'.split() if importlib.util.find_spec(m)))"); \
		if [ -n "$$present" ]; then \
		echo "check-installed: $$present installed here; run 'make check-installed' from outside the root" >&2; exit 1; fi
	rm -rf $(VENV)
	$(PYTHON) -m venv --system-site-packages $(VENV)
	$(VENV)/bin/pip install --no-index --no-deps --quiet dist/*.whl
	module=$$(cd /tmp && $(VENV)/bin/python -c "import importlib.util; print(importlib.util.find_spec('Davuzod').origin)"); \
		if readelf -d "$$module" | grep -F NEEDED | grep -F libstemmer; then \
		echo "check-installed: $$module needs libstemmer's shared library" >&2; exit 1; fi
	cd /tmp && $(VENV)/bin/python -c "import Davuzod, sys; assert Davuzod.__file__.startswith(sys.prefix), Davuzod.__file__"
	cd /tmp && $(VENV)/bin/python -c "import lexvale, sys; assert lexvale.__file__.startswith(sys.prefix), lexvale.__file__"
	python3 -m mypy --strict --no-incremental $(CURDIR)/src/lexvale
	cd /tmp && python3 -m mypy --strict --no-incremental --python-executable $(VENV)/bin/python $(CURDIR)/tests/typing/usage.py \
		$(CURDIR)/tests/typing/lexvale_usage.py
	python3 -m mypy --strict --no-incremental $(CURDIR)/Davuzod.pyi
	cd /tmp && $(VENV)/bin/python -m pytest $(PYTEST_PROCESSES) -p no:cacheprovider --rootdir=$(CURDIR) -c $(CURDIR)/pyproject.toml $(CURDIR)/tests

# Quiet when the configuration and build succeed (CMake reports its errors on
# stderr); on a failed build the build runs again to show why.
demo:
	@[ -f $(RELEASE_DIR)/build.ninja ] || $(CONFIGURE_RELEASE) >/dev/null
	@cmake --build $(RELEASE_DIR) >/dev/null || cmake --build $(RELEASE_DIR)
	@PYTHONPATH=$(CURDIR)/$(RELEASE_DIR):$(CURDIR)/src $(PYTHON) examples/demo.py

bench: build
	cmake --build $(RELEASE_DIR) --target stem_floor capi_floor analysis_floor
	PYTHONPATH=$(CURDIR)/$(RELEASE_DIR):$(CURDIR)/src $(PYTHON) benchmark.py $(BENCH_ARGS)

else

ROOT_TARGETS := build build-debug build-asan build-public test test-release test-release-native test-release-pure-1 \
	test-release-pure-2 test-debug dist demo bench

$(ROOT_TARGETS):
	@tools/devroot run $(MAKE) --no-print-directory IN_ROOT=1 BENCH_ARGS="$(BENCH_ARGS)" $@

# The installed wheel's run, in the root with libstemmer's shared library
# covered and the optional libraries' packages (and their metadata) taken out
# of dist-packages; then the sanitizer and valgrind runs, in the root as it is.
LIBSTEMMER_SHARED := /usr/lib/*/libstemmer.so.*
DIST_PACKAGES := /usr/lib/python3/dist-packages
OPTIONAL_HIDDEN := $(foreach m,$(OPTIONAL_MODULES) scikit_learn,$(DIST_PACKAGES)/$(m) $(DIST_PACKAGES)/$(m)-*)
check-installed:
	@DEVROOT_HIDE='$(LIBSTEMMER_SHARED) $(OPTIONAL_HIDDEN)' tools/devroot run $(MAKE) --no-print-directory IN_ROOT=1 $@

check: check-installed
	@tools/devroot run $(MAKE) --no-print-directory IN_ROOT=1 $@

endif
