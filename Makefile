# make demo   - install what is missing, build, run the demo application
# make test   - install what is missing, build, run the whole suite
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build test demo clean test-asan fuzz bench

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	scripts/test-session ctest --test-dir $(BUILD) --output-on-failure -j 2

demo: build
	scripts/run-demo $(BUILD)

test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOVALIS_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=0 scripts/test-session ctest --test-dir build-asan --output-on-failure

clean:
	rm -rf $(BUILD) build-asan build-fuzz
