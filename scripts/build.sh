#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh DIR [extra cmake options...] [-- TARGET...]
# Without targets everything is built.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1"
shift
options=()
targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--" ]; then
    shift
    targets=("$@")
    break
  fi
  options+=("$1")
  shift
done
cmake -S . -B "$dir" -G Ninja "${options[@]}" > /dev/null
if [ ${#targets[@]} -gt 0 ]; then
  cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
else
  cmake --build "$dir" -j "$(nproc)"
fi
