# Entry points for people and CI. Compiling is CMake's job; this file only strings the steps together.
.PHONY: all bootstrap test demo fuzz bench format clean

PRESET ?= ci
BUILD_DIR := build/$(PRESET)

all: test

bootstrap:
	@scripts/bootstrap

test: bootstrap
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET)
	@cd $(BUILD_DIR) && ctest --output-on-failure -j2 --timeout 300

demo: bootstrap
	@scripts/demo

fuzz: bootstrap
	@scripts/fuzz

bench: bootstrap
	@cmake --preset release >/dev/null
	@cmake --build --preset release
	@scripts/bench

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
