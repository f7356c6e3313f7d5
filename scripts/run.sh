#!/bin/sh
# Installs what is missing, builds KVAAgent and starts it.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/build.sh" "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cd "$ROOT/build"
exec ./agent/KVAAgent -d "$@"
