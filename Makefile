# The two commands of the README: `make demo` (the main job) and `make test` (the whole suite).
# Both install what is missing (scripts/bootstrap), then configure and build. `make package` builds the
# self-contained release plug-ins (Linux on Debian 11, Windows with mingw-w64, macOS with Zig) and writes
# dist/Skorvale-<version>.zip.
BUILD ?= build
WERROR ?= OFF
CMAKE_FLAGS ?=

.PHONY: all build test test-windows demo package windows server-deb server-image test-server-package clean

all: build

build:
	scripts/bootstrap
	cmake -S . -B $(BUILD) -G Ninja -DSKORVALE_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) -j2 --output-on-failure --timeout 300
	scripts/check-sdk-builds $(WERROR)

demo: build
	scripts/demo $(BUILD)

package:
	scripts/bootstrap
	scripts/package

# The Windows plug-in alone, cross-built with mingw-w64: build-windows/plugin/Skorvale/win_x64/Skorvale.xpl.
windows:
	scripts/bootstrap
	scripts/build-windows

# The Windows plug-in and host under Wine, against the Linux relay and host (scripts/test-windows).
test-windows: build
	SKORVALE_LINUX_BUILD=$(BUILD) SKORVALE_WERROR=$(WERROR) scripts/test-windows

# The relay server for operators: dist/skorvale-server_<version>_amd64.deb, and the OCI image
# skorvale-server:<version> (podman; also saved to dist/). Both build in build-deb.
server-deb:
	scripts/bootstrap
	SKORVALE_WERROR=$(WERROR) scripts/build-server-deb

server-image:
	scripts/bootstrap
	SKORVALE_WERROR=$(WERROR) scripts/build-server-image

# The package in a fresh Debian 12 root and the image under podman, each with two plug-ins logging in.
# Each skips (status 77, with the reason) on a machine without debootstrap or podman.
test-server-package: build
	tests/package/server-deb-test.sh $(BUILD) || [ $$? -eq 77 ]
	tests/package/server-image-test.sh $(BUILD) || [ $$? -eq 77 ]

clean:
	rm -rf $(BUILD)
