# Tavora: `make run` builds and starts the program, `make test` builds with
# the sanitizers and runs every test. Both install missing packages first.

JOBS ?= 2
CMAKE_GEN = -G Ninja

.PHONY: all deps release run test fuzz fuzz-run bench clean

all: release

deps:
	@./scripts/install-deps.sh

release: deps
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTAVORA_TESTS=OFF -DTAVORA_BENCH=OFF
	cmake --build build/release -j$(JOBS)

run: release
	./build/release/tavora

test: deps
	cmake -S . -B build/test $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTAVORA_SANITIZE=ON -DTAVORA_WERROR=ON
	cmake --build build/test -j$(JOBS)
	cd build/test && ctest --output-on-failure -j$(JOBS)

fuzz: deps
	cmake -S . -B build/fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTAVORA_FUZZ=ON
	cmake --build build/fuzz -j$(JOBS)

# Runs every fuzz target for FUZZ_SECONDS (default 60) each.
FUZZ_SECONDS ?= 60
fuzz-run: fuzz
	@for f in build/fuzz/fuzz/fuzz_*; do \
	  [ -f "$$f" ] && [ -x "$$f" ] || continue; \
	  mkdir -p build/fuzz/corpus/$$(basename $$f); \
	  $$f -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    build/fuzz/corpus/$$(basename $$f) fuzz/corpus/$$(basename $$f) || exit 1; \
	done

# Builds the benchmarks in the release tree and runs each one.
bench: deps
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTAVORA_TESTS=OFF -DTAVORA_BENCH=ON
	cmake --build build/release -j$(JOBS)
	@for b in build/release/bench/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$b"; QT_QPA_PLATFORM=offscreen "$$b" || exit 1; \
	done

clean:
	rm -rf build
