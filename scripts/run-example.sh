#!/usr/bin/env bash
# Installs what is needed, builds Rattlepan and runs the main job on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
build/cli/rattlepan-cli dump build/examples/example.rparchive
