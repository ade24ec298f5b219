# The commands a newcomer types: `make run` and `make test`. Both install what
# is missing first (scripts/install-deps), then configure and build.
TEST_DIR    := build/test
RELEASE_DIR := build/release
FUZZ_DIR    := build/fuzz
FUZZ_SECONDS ?= 30
# Per fuzz target within `make test`, which runs them all: six targets at 15 s
# keep the whole of `make test` within its budget. `make fuzz` runs longer.
TEST_FUZZ_SECONDS ?= 15
CMAKE_GEN   := -G Ninja
# A compiler cache (used when installed) shares its objects between copies of
# the tree: paths are taken relative to the tree.
export CCACHE_BASEDIR := $(CURDIR)

PREFIX      ?= /usr/local

.PHONY: all deps test test-all run bench fuzz fuzz-build release install deb clean

all: release

deps:
	@scripts/install-deps

$(TEST_DIR)/build.ninja: | deps
	cmake -S . -B $(TEST_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVEILEX_SANITIZE=ON

# Tests labelled "slow" (most of those that start a browser) are left to
# `make test-all`, which runs everything.
test: deps $(TEST_DIR)/build.ninja
	cmake --build $(TEST_DIR)
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(TEST_FUZZ_SECONDS)
	cd $(TEST_DIR) && ctest --output-on-failure -j2 --timeout 300 -LE slow

test-all: deps $(TEST_DIR)/build.ninja
	cmake --build $(TEST_DIR)
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(TEST_FUZZ_SECONDS)
	cd $(TEST_DIR) && ctest --output-on-failure -j2 --timeout 300

release: deps
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DVEILEX_BUILD_TESTS=OFF -DVEILEX_BUILD_BENCH=ON
	cmake --build $(RELEASE_DIR)

run: release
	@if [ -x $(RELEASE_DIR)/app/veilex ]; then \
	  $(RELEASE_DIR)/app/veilex; \
	else \
	  echo "Veilex's window is not built yet: the libraries are, in $(RELEASE_DIR)."; \
	fi

# Installs the release build under PREFIX (bin/, lib/<triplet>/veilex/, share/).
install: release
	cmake --install $(RELEASE_DIR) --prefix $(PREFIX)

# The Debian package of the release build, written under build/.
deb: release
	cd $(RELEASE_DIR) && cpack -G DEB -B $(CURDIR)/build

bench: release
	scripts/bench $(RELEASE_DIR)

# Only the fuzz targets and the layers they use: the fuzz tree need not build
# the layers no target reaches.
FUZZ_TARGETS := $(basename $(notdir $(wildcard fuzz/fuzz_*.cpp)))

fuzz-build: deps
	CXX=clang++ cmake -S . -B $(FUZZ_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVEILEX_FUZZ=ON
	cmake --build $(FUZZ_DIR) --target $(FUZZ_TARGETS)

# Runs every fuzz target for FUZZ_SECONDS over its seed corpus.
fuzz: fuzz-build
	scripts/fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

clean:
	rm -rf build
