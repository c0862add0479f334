#!/usr/bin/env bash
# Installs what is needed, builds Rattlepan and plays the bundled example song with its kit through
# the default audio device (JACK, PulseAudio/PipeWire or ALSA). Where there is no audio device the
# song plays into the silent null device instead, and a line says so.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

shopt -s nullglob
songs=(build/resources/Examples/*.rpsong)
if [ ${#songs[@]} -eq 0 ]; then
  echo "run-example: no example song was generated in build/resources/Examples" >&2
  exit 1
fi
song="${songs[0]}"

# Where no audio device opens, `play` goes on with the null device and prints a line saying so.
exec build/cli/rattlepan-cli play "$song"
