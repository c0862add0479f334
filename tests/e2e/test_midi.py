"""Notes from a JACK MIDI client recorded into the song, end to end, over a private dummy JACK server."""
import json
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from editorcase import EditorCase, EXAMPLE_KIT, events  # noqa: E402
from rpdriver import BUILD, CLI, song_info, wait_for  # noqa: E402

FIXTURES = os.path.join(BUILD, "tests", "rp-e2e-fixtures")
HAVE_JACK = shutil.which("jackd") and shutil.which("jack_midiseq")


def start(arguments):
    return subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def jack_sources():
    out = subprocess.run([CLI, "midi", "list", "--json", "--backend", "jack"],
                         capture_output=True, text=True, timeout=30)
    return json.loads(out.stdout)["sources"] if out.returncode == 0 else []


@unittest.skipUnless(HAVE_JACK, "jackd and jack_midiseq are needed (package jackd2)")
class JackMIDITest(EditorCase):

    def prepare(self):
        # The example song on a copy of its kit whose drums listen on channel 1, where jack_midiseq plays.
        kit = os.path.join(self.work, "Channel One Kit.rpkit")
        subprocess.run([FIXTURES, "midi-channel", self.song, os.path.join(self.work, EXAMPLE_KIT),
                        self.song, kit, "1"], check=True, timeout=60)
        self.server_name = "rp-e2e-%d" % os.getpid()
        self.saved_server = os.environ.get("JACK_DEFAULT_SERVER")
        os.environ["JACK_DEFAULT_SERVER"] = self.server_name
        self.server = start(["jackd", "-n", self.server_name, "-d", "dummy", "-r", "48000", "-p", "256"])
        self.pads = None
        self.addCleanup(self.stop_jack)
        wait_for("the JACK server", lambda: subprocess.run(
            ["jack_lsp"], capture_output=True, timeout=10).returncode == 0 or None)
        # A kick (note 36) every half second at 48 kHz, each 2000 frames long.
        self.pads = start(["jack_midiseq", "pads", "24000", "0", "36", "2000"])
        source = wait_for("jack_midiseq's port", lambda: next(
            (s for s in jack_sources() if s["name"] == "pads out"), None))
        self.app_defaults = {"RPMIDIBackend": "jack", "RPMIDISourceID": source["uniqueID"]}

    def stop_jack(self):
        if self.pads:
            stop(self.pads)
        stop(self.server)
        if self.saved_server is None:
            os.environ.pop("JACK_DEFAULT_SERVER", None)
        else:
            os.environ["JACK_DEFAULT_SERVER"] = self.saved_server

    def test_notes_from_a_jack_client_are_recorded_while_recording(self):
        before = events(song_info(self.song), "Intro", 0)
        bars = self.show_section("Intro")
        n = bars[0]["divisions"]
        self.place_insertion_point(bars[0], 1)
        # Until now the notes only chose the kick; with recording on each one steps into the bar.
        self.app.key("ctrl+r")
        self.app.wait("three kicks recorded", lambda p: (
            p["editor"]["insertionPoint"]["bar"] == bars[0]["index"]
            and p["editor"]["insertionPoint"]["place"] >= 4 / n) or None, timeout=20)
        stop(self.pads)
        time.sleep(0.3)
        self.app.key("ctrl+r")
        recorded = round(self.app.probe()["editor"]["insertionPoint"]["place"] * n) - 1
        self.assertEqual(self.app.probe()["editor"]["currentDrum"], "kick")
        self.save()

        after = events(song_info(self.song), "Intro", 0)
        kicks = {round(e[0] * n) for e in after if e[1] == "kick"}
        expected = {round(e[0] * n) for e in before if e[1] == "kick"} | set(range(1, recorded + 1))
        self.assertEqual(kicks, expected)
        self.assertEqual([e for e in after if e[1] != "kick"], [e for e in before if e[1] != "kick"])


if __name__ == "__main__":
    unittest.main()
