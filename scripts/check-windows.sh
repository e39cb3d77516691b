#!/usr/bin/env bash
# Cross-compiles the device link (transports including WinSock IrDA, the OBEX push,
# the IrDA adapters' frame ports and listing (without libusb: usb-irda says so),
# the reply pickup and the registry store) with mingw-w64 into a static library, to
# keep it building for Windows. Needs x86_64-w64-mingw32-g++-posix.
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=${CXX_WINDOWS:-x86_64-w64-mingw32-g++-posix}
ar=${AR_WINDOWS:-x86_64-w64-mingw32-ar}
if ! command -v "$cxx" > /dev/null; then
  echo "check-windows: $cxx not found (apt-get install g++-mingw-w64-x86-64-posix)" >&2
  exit 2
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

sources=(
  src/core/cp1251.cpp
  src/core/numbers.cpp
  src/core/reply_text.cpp
  src/core/text_file.cpp
  src/core/text_lines.cpp
  src/link/folder_watch.cpp
  src/link/device_link.cpp
  src/link/irda_transport_windows.cpp
  src/link/obex_push.cpp
  src/link/received_folder_store.cpp
  src/link/received_folder_store_windows.cpp
  src/link/reply_pickup.cpp
  src/link/socket_io.cpp
  src/link/tcp_transport.cpp
  src/link/transport.cpp
  src/link/irda/sir_codec.cpp
  src/link/irda/dongle.cpp
  src/link/irda/serial_port.cpp
  src/link/irda/usb_bridge.cpp
  src/link/irda/adapters.cpp
)

for s in "${sources[@]}"; do
  echo "  $s"
  "$cxx" -std=c++20 -O1 -Wall -Wextra -Wpedantic -Werror -D_WIN32_WINNT=0x0601 -Isrc \
    -c "$s" -o "$out/$(basename "$s" .cpp).o"
done
"$ar" rcs "$out/libdm_link.a" "$out"/*.o
echo "check-windows: dm_link builds for Windows ($(ls "$out"/*.o | wc -l) objects)"
