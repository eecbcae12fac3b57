# make demo   - install what is missing, build, run the demo application
# make test   - install what is missing, build, run the whole suite (X11 and Wayland)
# make test-wayland - the end-to-end suite again, in a Wayland session
BUILD ?= build
JOBS ?= $(shell nproc)
# Paths inside the tree are hashed relative to it, so every checkout of the
# tree (a CI clone, a second worktree, build-asan beside build) shares one
# compiler cache.
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
# Leak checking is off: GTK and WebKit keep process-lifetime allocations on
# purpose. Reports from system libraries are suppressed in scripts/asan.supp.
ASAN_ENV = ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:suppressions=$(CURDIR)/scripts/asan.supp \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: all deps build deb-repro test test-wayland test-wayland-run sanitize-core demo deb clean test-asan test-repeat fuzz bench

all: build

# make wheel  - the Python library's wheel in $(BUILD)/python/dist
.PHONY: wheel
wheel: build
	cmake --build $(BUILD) --target python_wheel
	@ls -1 $(BUILD)/python/dist/*.whl

# make page-api-doc - rewrite docs/page-api.md from the page API's declarations
.PHONY: page-api-doc
page-api-doc: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target ovalis_app
	scripts/page-api-doc $(BUILD)/generated/client_js.js src/webview/ovalis.d.ts docs/page-api.md

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite on X11, then the end-to-end part again on Wayland.
test: build sanitize-core
	scripts/test-session ctest --test-dir $(BUILD) --output-on-failure -j 2
	$(MAKE) --no-print-directory test-wayland-run

# The end-to-end suite in a Wayland session (weston headless, GDK's Wayland
# backend, the desktop portal); tests that need X11 check the Wayland
# answers instead. Sessions that single tests start are Wayland ones too.
test-wayland: build
	$(MAKE) --no-print-directory test-wayland-run

test-wayland-run:
	OVALIS_TEST_WAYLAND=1 scripts/test-session ctest --test-dir $(BUILD) --output-on-failure -j 2 -L e2e

# Unit tests and fuzz-corpus replays under AddressSanitizer and UBSan.
sanitize-core: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOVALIS_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS) --target unit_tests $$(cd fuzz && ls *_fuzz.cpp | sed 's/_fuzz.cpp$$//; s/^/fuzz_replay_/')
	$(ASAN_ENV) ctest --test-dir build-asan --output-on-failure -j 2 -L sanitize

demo: build
	scripts/run-demo $(BUILD)

# The Debian packages (ovalis-launcher, libovalis-backend-dev, ovalis-demo
# and their debug symbols) in $(BUILD)/deb, each checked by lintian.
deb: build
	scripts/make-deb $(BUILD)

# Two builds of this commit from nothing, compiler cache off; their packages
# must be byte-identical (make test checks the packaging step itself).
deb-repro: deps
	scripts/deb-repro

# The whole suite, end-to-end tests included, against a sanitized build.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOVALIS_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS)
	$(ASAN_ENV) scripts/test-session ctest --test-dir build-asan --output-on-failure

# The end-to-end suite ROUNDS times (default 5), each round in a fresh test
# session; prints how many rounds each test failed. SANITIZE=1 repeats the
# sanitized build instead.
test-repeat: deps
ifeq ($(SANITIZE),1)
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOVALIS_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS)
	$(ASAN_ENV) scripts/test-repeat --rounds $(or $(ROUNDS),5) --build build-asan
else
	$(MAKE) build
	scripts/test-repeat --rounds $(or $(ROUNDS),5) --build $(BUILD)
endif

# Runs every libFuzzer target for FUZZ_SECONDS each (clang, ASan, UBSan).
# New inputs go to build-fuzz/corpus-<target>; the checked-in corpus seeds them.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOVALIS_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target $$(cd fuzz && ls *_fuzz.cpp | sed 's/_fuzz.cpp$$//; s/^/fuzz_/')
	@for f in fuzz/*_fuzz.cpp; do t=$$(basename $$f _fuzz.cpp); \
	  mkdir -p build-fuzz/corpus-$$t; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/crash-$$t- build-fuzz/corpus-$$t fuzz/corpus/$$t 2>&1 \
	    | grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss|==[0-9]+==ERROR|SUMMARY)' || true; \
	  if ls build-fuzz/crash-$$t-* >/dev/null 2>&1; then echo "fuzz_$$t: FINDINGS in build-fuzz/crash-$$t-*"; exit 1; fi; \
	done

# Launcher against the bare engine, the media proxy against a direct fetch,
# then the sampler's mixer and decoder on their own, then the Python and
# JavaScript backend libraries against the C++ one; prints tables, writes
# build/bench.json, build/media_bench.json and build/sdk_bench.json.
bench: build
	scripts/test-session $(BUILD)/bench/bench_main --rounds $(or $(ROUNDS),5) --json $(BUILD)/bench.json
	scripts/test-session --pipewire $(BUILD)/bench/media_bench --rounds $(or $(ROUNDS),3) --json $(BUILD)/media_bench.json
	$(BUILD)/bench/sampler_bench
	scripts/test-session node bench/sdk_bench.mjs --launcher $(BUILD)/launcher --cpp $(BUILD)/bench/sdk_bench_cpp \
	  --rounds $(or $(ROUNDS),3) --json $(BUILD)/sdk_bench.json

clean:
	rm -rf $(BUILD) build-asan build-fuzz
