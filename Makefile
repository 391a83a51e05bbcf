# The two entry points: `make demo` runs the demo host, `make test` runs every test.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: demo test build configure setup bench clean

setup:
	@tools/setup.sh

configure: setup
	cmake -S . -B $(BUILD) -G Ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The demo needs only the library and its host program.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target zerv_demo
	$(BUILD)/zerv_demo

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD)
