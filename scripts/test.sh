#!/bin/sh
# Installs what is missing, builds everything and runs every test.
#   scripts/test.sh              the normal build, in build/
#   scripts/test.sh --sanitize   with AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan/
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/install-deps.sh"

if [ "${1:-}" = "--sanitize" ]; then
  BUILD_DIR="$ROOT/build-asan"
  "$ROOT/scripts/build.sh" "$BUILD_DIR" -DKVA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DKVA_BUILD_BENCH=OFF
  export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
  export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
  # Mesa's software GL driver is unloaded at exit, which would leave LeakSanitizer with
  # allocations it can neither attribute nor check; kept loaded, its memory stays reachable.
  MESA_DRIVER=$(ls /usr/lib/*/dri/swrast_dri.so 2>/dev/null | head -n 1)
  if [ -n "$MESA_DRIVER" ]; then
    export LD_PRELOAD="$MESA_DRIVER${LD_PRELOAD:+ $LD_PRELOAD}"
    export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
  fi
else
  BUILD_DIR="$ROOT/build"
  "$ROOT/scripts/build.sh" "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi

cd "$BUILD_DIR"
if [ -z "${DISPLAY:-}" ]; then
  # GUI tests draw into a virtual display.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2
fi
exec ctest --output-on-failure -j2
