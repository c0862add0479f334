#!/usr/bin/env bash
# Installs what is needed, builds Rattlepan and opens the bundled example song in the application
# when a display is available. Without a display it plays the song with its kit through the default
# audio device (JACK, PulseAudio/PipeWire or ALSA) using rattlepan-cli, saying so; where there is no
# audio device either, the song plays into the silent null device and a line says that too.
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

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/src/app/rattlepan ]; then
  exec build/src/app/rattlepan "$song"
fi
echo "run-example: no display to open the application on; playing the example song with rattlepan-cli instead"
# Where no audio device opens, `play` goes on with the null device and prints a line saying so.
exec build/cli/rattlepan-cli play "$song"
