#!/bin/sh
# Configures and builds KVAAgent. Usage: scripts/build.sh <build dir> [cmake options...]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${1:?build directory}
shift
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja "$@" >/dev/null
cmake --build "$BUILD_DIR"
