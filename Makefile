# Two commands matter: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build build-asan run test unit format tidy bench fuzz clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja $(BUILD)/Makefile:
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: deps $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS)

# Unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DTARVINE_SANITIZE=ON -DTARVINE_UNIT_ONLY=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# Serves on this desktop, or on a private virtual one when there is no display.
run: build
	@if [ -n "$$DISPLAY" ]; then exec $(BUILD)/tarvine-native serve; \
	else exec scripts/desktop-session $(BUILD)/tarvine-native serve; fi

test: build build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)
	scripts/desktop-session ctest --test-dir $(BUILD) --output-on-failure

unit: build
	ctest --test-dir $(BUILD) -L unit --output-on-failure -j $(JOBS)

bench: build
	scripts/desktop-session bench/run-all

# Each libFuzzer target in fuzz/ for FUZZ_SECONDS (not part of `make test`).
fuzz: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -DTARVINE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# clang-tidy cannot read GCC's precompiled headers: it gets a configuration without them.
# Clang 14 does not announce its coroutines in a way Asio recognises, so they are named.
# Findings go to standard output; of standard error, the counts of warnings found and dropped
# in headers that are not ours are left out.
tidy: deps
	cmake -S . -B build-tidy -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON > /dev/null
	git ls-files 'native/*.cpp' | xargs clang-tidy -p build-tidy --quiet \
	  --extra-arg=-DASIO_HAS_CO_AWAIT=1 --extra-arg=-DASIO_HAS_STD_COROUTINE=1 \
	  2> build-tidy/stderr; status=$$?; \
	  grep -v '^[0-9]* warnings\? generated\.$$' build-tidy/stderr >&2; exit $$status

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) build-tidy
