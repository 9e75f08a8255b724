# A thin wrapper over the CMake presets; IDEs can use the presets directly.
.PHONY: all deps build demo test test-default test-asan clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default

# The main job: the board tour on the virtual board, with the library's debug lines.
demo: build
	VBOARD_DEBUG=stdout ./build/default/examples/board_tour

test: deps test-default test-asan

test-default:
	cmake --preset default
	cmake --build --preset default
	ctest --preset default

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

clean:
	rm -rf build
