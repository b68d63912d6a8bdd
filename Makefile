# Front door: `make demo` runs the main job; `make test` installs what is
# missing, builds, and runs every test in the normal build, then the whole
# suite under AddressSanitizer + UndefinedBehaviorSanitizer and the
# cross-thread tests under ThreadSanitizer. `make check` is the quick
# normal-build run for day-to-day work. `make fuzz` runs every fuzz target for
# FUZZ_SECONDS each (scripts/fuzz.sh).
JOBS   ?= $(shell nproc)
BUILD  ?= build
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60

.PHONY: deps build check test demo sanitize asan tsan bench bench-all fuzz measure clean

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900

test: check sanitize

demo: build
	bash scripts/demo.sh $(BUILD)

# AddressSanitizer + UndefinedBehaviorSanitizer over the whole suite, then
# ThreadSanitizer over the cross-thread tests.
sanitize: asan tsan

asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTAVIK_SANITIZE=ON -DTAVIK_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 1800 -LE slow

tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIK_TSAN=ON -DTAVIK_BENCH=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -L threads

# libFuzzer targets (clang, ASan + UBSan) in build-fuzz/, FUZZ_SECONDS each;
# findings land in build-fuzz/fuzz-findings/<target>/.
fuzz: deps
	JOBS=$(JOBS) bash scripts/fuzz.sh $(FUZZ_SECONDS)

# One table: engine spectra against FFTW, the resampler against libsoxr and speexdsp, each
# decoder and the full pipeline in times real time per channel, heap per channel.
bench: build
	$(BUILD)/bench/bench_summary

# Every Google Benchmark program, in detail.
bench-all: build
	for b in $(BUILD)/bench/bench_*; do [ -x $$b ] && [ $$b != $(BUILD)/bench/bench_summary ] && $$b; done

# False reports on 2 h of each host signal, wrong content on 2 h of
# mixed-family files and the sensitivity check; the tables also go to
# $(BUILD)/measure.md. Takes about half an hour on two idle cores.
MEASURE_JOBS ?= 2
measure: build
	nice -n 10 $(BUILD)/tools/tavik-measure/tavikmeasure all --hours 2 --jobs $(MEASURE_JOBS) \
	  > $(BUILD)/measure.md && cat $(BUILD)/measure.md

clean:
	rm -rf build build-asan build-tsan build-fuzz
