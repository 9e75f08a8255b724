# A thin wrapper over the CMake presets; IDEs can use the presets directly.
.PHONY: all deps build demo test test-default test-direct test-asan test-arm test-dll dll sdk bench \
	clean sweep fuzz tsan memcheck

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default

# The main job: the board tour on the virtual board, command by command, with the library's
# debug lines (examples/board_tour is the same tour as a plain C program).
demo: build
	./build/default/tools/tarvik/tarvik tour

test: deps test-default test-direct test-asan

test-default:
	cmake --preset default
	cmake --build --preset default
	ctest --preset default

# Every test binary run directly, shuffled and repeated, as an IDE runs it: the board resets per
# test, so the tests pass in one process as well as in CTest's process per test.
test-direct: test-default
	@set -e; for t in build/default/tests/*_tests; do \
	  echo "== $$t --gtest_shuffle --gtest_repeat=3"; \
	  $$t --gtest_shuffle --gtest_repeat=3 --gtest_brief=1 >/tmp/tarvik-direct.$$$$ 2>&1 \
	    || { cat /tmp/tarvik-direct.$$$$; rm -f /tmp/tarvik-direct.$$$$; exit 1; }; \
	  tail -n 1 /tmp/tarvik-direct.$$$$; rm -f /tmp/tarvik-direct.$$$$; \
	done

# The core, the board and the whole suite for ARMv7 (32-bit pointers, as on the module), run
# under qemu-arm: every record's size and offset assert is live there.
test-arm: deps
	cmake --preset arm
	cmake --build --preset arm
	ctest --preset arm

# The module's Tarvik.dll (Windows Embedded Compact 2013, ARMv7), built with clang and lld.
dll: deps
	scripts/build-dll build/device

# The suites of test-arm again, against that very Tarvik.dll: a PE loader (tests/dll/) maps it
# under qemu-arm and binds its coredll imports to the ARM build of the virtual board.
test-dll: dll
	cmake --preset dll
	cmake --build --preset dll
	ctest --preset dll

# The SDK for a module developer: build/device/sdk/ and its zip archive (scripts/build-sdk).
sdk: deps
	scripts/build-sdk build/device

bench: build
	bench/run

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# Every export's sequence re-run in a fresh process with each of its platform calls failed.
sweep: deps
	cmake --preset default
	cmake --build --preset default --target tarvik_sweep
	ctest --preset default -R sweep --verbose

# The libFuzzer targets: the export target for FUZZ_SECONDS, then each of the board's readers
# (FUZZ_BOARD_TARGETS) for FUZZ_BOARD_SECONDS, each on its kept corpus fuzz/<name>_corpus (new
# inputs go to build/fuzz/<name>-corpus, findings to build/fuzz/findings/<name>-*); any finding
# fails. A target's words, where it has them, are fuzz/<name>.dict. Run one again: build/fuzz/fuzz/tarvik_fuzz FILE, build/fuzz/fuzz/tarvik_<name>_fuzz FILE.
FUZZ_SECONDS ?= 120
FUZZ_BOARD_SECONDS ?= 30
FUZZ_BOARD_TARGETS ?= config hive live
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	mkdir -p build/fuzz/corpus build/fuzz/findings
	build/fuzz/fuzz/tarvik_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=2048 \
	  -print_final_stats=1 -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus fuzz/corpus
	@set -e; for name in $(FUZZ_BOARD_TARGETS); do \
	  mkdir -p build/fuzz/$$name-corpus; \
	  echo "== tarvik_$${name}_fuzz for $(FUZZ_BOARD_SECONDS) s"; \
	  build/fuzz/fuzz/tarvik_$${name}_fuzz -max_total_time=$(FUZZ_BOARD_SECONDS) -timeout=10 \
	    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build/fuzz/findings/$$name- \
	    $$(test -f fuzz/$$name.dict && echo -dict=fuzz/$$name.dict) \
	    build/fuzz/$$name-corpus fuzz/$${name}_corpus; \
	done

# The whole suite under ThreadSanitizer. Without address randomisation, whose wider ranges on
# newer kernels ThreadSanitizer's fixed memory layout cannot take.
tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	setarch $$(uname -m) -R ctest --preset tsan

# The default build's tests under Valgrind memcheck, through CTest's memory-check support (the
# build configures valgrind for it): any invalid access or leak fails a test. The DLL check runs
# the device toolchain, none of our code.
memcheck: test-default
	ctest --test-dir build/default -T memcheck -E '^(Device|DotNet|Packaging|Bench)\.' -j 2 --output-on-failure --timeout 600

clean:
	rm -rf build
