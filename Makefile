# Two commands for a fresh Debian machine:
#   make demo   installs what is missing, builds the plug-in and renders the demo
#   make test   installs what is missing, builds both plug-ins and runs every test
JOBS ?= 2
SECONDS ?= 600

PACKAGES := cmake ninja-build g++ pkg-config libgtest-dev libbenchmark-dev \
  libsndfile1-dev libstb-dev fonts-liberation2 libx11-dev libxtst-dev xvfb xauth \
  g++-mingw-w64-x86-64-posix wine64 imagemagick clang libclang-rt-14-dev rubberband-cli \
  lv2-dev lilv-utils sordi serdi ardour python3 jalv jackd2

.PHONY: deps demo build windows test bench bench-windows fuzz soak clean

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=; else SUDO=sudo; fi; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

demo: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	./build-release/voicemultiply-render --demo demo-ensemble.wav

windows: deps
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)

build: deps windows
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test: build
	ctest --preset default -j $(JOBS)
	@for script in sanitizers ardour; do \
	  if [ -f scripts/$$script.sh ]; then echo "== scripts/$$script.sh"; bash scripts/$$script.sh || exit 1; fi; \
	done

bench: deps
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	@for b in $$(find build-bench/bench -maxdepth 2 -type f -executable); do echo "== $$b"; $$b; done

# The Windows build under wine against the Linux build, same timing program, same machine.
bench-windows: deps
	bash scripts/bench-windows.sh

fuzz: deps
	bash scripts/fuzz.sh $(SECONDS)

soak: deps
	bash scripts/soak.sh $(SECONDS)

clean:
	rm -rf build build-release build-bench build-win build-asan build-tsan build-fuzz
