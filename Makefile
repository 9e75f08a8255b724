# A thin wrapper over the CMake presets; IDEs can use the presets directly.
.PHONY: all deps build demo test test-default test-direct test-asan test-arm dll bench clean

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

bench: build
	bench/run

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

clean:
	rm -rf build
