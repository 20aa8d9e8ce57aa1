# make run | make test | make test-asan | make bench | make fuzz | make deb
LOCK := flock /tmp/tunabel-build.lock
# One compiler cache for every checkout of the project.
export CCACHE_BASEDIR := $(CURDIR)

.PHONY: deps build run test test-asan bench fuzz deb format clean

deps:
	bash scripts/install-deps.sh

build: deps
	@test -f build/release/build.ninja || cmake --preset release
	$(LOCK) cmake --build --preset release

run: build
	./build/release/tunabel

test: build
	ctest --preset release

test-asan: deps
	@test -f build/asan/build.ninja || cmake --preset asan
	$(LOCK) cmake --build --preset asan
	ctest --preset asan

bench: build
	bash bench/run.sh build/release

fuzz: deps
	@test -f build/fuzz/build.ninja || cmake --preset fuzz
	$(LOCK) cmake --build --preset fuzz
	bash tests/fuzz/run.sh build/fuzz

# The Debian package, in build/release (apt install ./build/release/tunabel_*.deb).
deb: build
	cd build/release && $(LOCK) cpack -G DEB

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
