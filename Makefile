# The two commands of the README: `make run` and `make test`.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: deps configure build run test test-sanitize fuzz clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/brova $(or $(ARGS),--console)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize:
	@$(MAKE) --no-print-directory test BUILD=build-sanitize CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DBROVA_SANITIZE=ON"

# The libFuzzer targets of fuzz/ in build-fuzz; fuzz/run.sh TARGET SECONDS runs one.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBROVA_FUZZ=ON -DBROVA_TESTS=OFF \
	  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
	@cmake --build build-fuzz --target fuzzers -j $(JOBS)

clean:
	rm -rf build build-sanitize

# Release build, then every workload of bench/ against Lua 5.4 (BENCH_ARGS="--reps 3 ...").
bench: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBROVA_TESTS=OFF && cmake --build build-release -j2
	g++ -std=c++20 -O2 -Wall -Wextra -o build-release/bench_runner bench/bench_runner.cpp
	./build-release/bench_runner --root . $(BENCH_ARGS)
