# Every target builds and runs inside the project's Debian sid root
# (tools/devroot), which the first use creates; see the README.

BUILD_DIR := build/release
PYTHON := python3.14
IN_ROOT ?= 0

.PHONY: build test demo

ifeq ($(IN_ROOT),1)

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=/usr/bin/$(PYTHON)

build: $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR)

test: build
	PYTHONPATH=$(CURDIR)/$(BUILD_DIR) $(PYTHON) -m pytest

demo: build
	@PYTHONPATH=$(CURDIR)/$(BUILD_DIR) $(PYTHON) examples/demo.py

else

build test demo:
	@tools/devroot run $(MAKE) --no-print-directory IN_ROOT=1 $@

endif
