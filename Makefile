# Entry points for people and CI. Compiling is CMake's job; this file only strings the steps together.
.PHONY: all bootstrap test soak demo agents fuzz bench package format clean

PRESET ?= ci
BUILD_DIR := build/$(PRESET)

all: test

bootstrap:
	@scripts/bootstrap

test: bootstrap
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET)
	@cd $(BUILD_DIR) && ctest --output-on-failure -j2 --timeout 300

# The bridge killed mid-turn and started again 100 times with the desktop's view model connected; prints
# the counts of lost and doubled events (CI runs 10 restarts).
soak: bootstrap
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET) --target codingharness_DesktopCodingBridgeRestartSoakTest
	@RIRUDEZ_SOAK_RESTARTS=100 $(BUILD_DIR)/apps/desktop/src/codingharness/codingharness_DesktopCodingBridgeRestartSoakTest

demo: bootstrap
	@scripts/demo

# The desktop with your own claude or codex working in PROJECT (a folder).
agents: bootstrap
	@scripts/demo --agents "$(PROJECT)"

fuzz: bootstrap
	@scripts/fuzz

bench: bootstrap
	@cmake --preset release >/dev/null
	@cmake --build --preset release
	@scripts/bench

# The Debian package (build/package/rirudez_<version>_<arch>.deb), checked: file list, dependencies, an
# installation into a scratch root, and the installed desktop starting offscreen.
package: bootstrap
	@cmake --preset package >/dev/null
	@cmake --build --preset package
	@cd build/package && cpack
	@scripts/check-package build/package

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
