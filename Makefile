# Every target builds and runs inside the project's Debian sid root
# (tools/devroot), which the first use creates; see the README.

RELEASE_DIR := build/release
DEBUG_DIR := build/debug
PYTHON := python3.14
PYTHON_DEBUG := python3.14-dbg
IN_ROOT ?= 0

.PHONY: build build-debug test demo bench

ifeq ($(IN_ROOT),1)

# The release module, and the same sources against the debug interpreter,
# whose own assertions and reference accounting check the module's.
$(RELEASE_DIR)/build.ninja:
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=/usr/bin/$(PYTHON)

$(DEBUG_DIR)/build.ninja:
	cmake -S . -B $(DEBUG_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPython_EXECUTABLE=/usr/bin/$(PYTHON_DEBUG)

build: $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR)

build-debug: $(DEBUG_DIR)/build.ninja
	cmake --build $(DEBUG_DIR)

test: build build-debug
	PYTHONPATH=$(CURDIR)/$(RELEASE_DIR) $(PYTHON) -m pytest
	PYTHONPATH=$(CURDIR)/$(DEBUG_DIR) $(PYTHON_DEBUG) -m pytest -p no:cacheprovider

demo: build
	@PYTHONPATH=$(CURDIR)/$(RELEASE_DIR) $(PYTHON) examples/demo.py

bench: build
	cmake --build $(RELEASE_DIR) --target stem_floor
	PYTHONPATH=$(CURDIR)/$(RELEASE_DIR) $(PYTHON) benchmark.py $(BENCH_ARGS)

else

build test demo bench:
	@tools/devroot run $(MAKE) --no-print-directory IN_ROOT=1 BENCH_ARGS="$(BENCH_ARGS)" $@

endif
