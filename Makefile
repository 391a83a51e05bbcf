# The two entry points: `make demo` runs the demo host, `make test` runs every test.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: demo test build setup bench clean

setup:
	@tools/setup.sh

build: setup
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/zerv_demo

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD)
