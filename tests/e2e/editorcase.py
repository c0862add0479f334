"""Shared steps of the end-to-end tests that work in the pattern editor of a copy of the example song."""
import os
import shutil
import tempfile
import unittest

from rpdriver import App, RESOURCES, song_info

EXAMPLES = os.path.join(RESOURCES, "Examples")
EXAMPLE_SONG = "Rattlepan Example Song.rpsong"
EXAMPLE_KIT = "Rattlepan Standard Kit.rpkit"


def centre(rect):
    x, y, w, h = rect
    return x + w // 2, y + h // 2


def cell_rect(bar, group, division):
    """The screen rectangle of one grid cell of a bar in the probe."""
    row = bar["rows"][group]["rect"]
    grid = bar["gridRect"]
    width = grid[2] / bar["divisions"]
    return [round(grid[0] + width * division), row[1], round(width), row[3]]


def line_point(bar, division):
    """A point in the bar's footer on division line `division` (the insertion point goes there)."""
    x, y, w, h = bar["rect"]
    grid = bar["gridRect"]
    return [round(grid[0] + grid[2] * division / bar["divisions"]), y + h - 8, 1, 1]


def pattern(info, section, bar):
    return next(s for s in info["sections"] if s["name"] == section)["patterns"][bar]


def events(info, section, bar):
    return [(e["whenRatio"], e["drum"]["typeName"], e["drum"]["variantName"], e["velocity"])
            for e in pattern(info, section, bar)["events"]]


class EditorCase(unittest.TestCase):
    """A copy of the example song and its kit, open in rattlepan."""

    extra_songs = ()
    app_defaults = {}

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="rp-e2e-editor-")
        shutil.copy(os.path.join(EXAMPLES, EXAMPLE_SONG), self.work)
        shutil.copytree(os.path.join(EXAMPLES, EXAMPLE_KIT), os.path.join(self.work, EXAMPLE_KIT))
        self.song = os.path.join(self.work, EXAMPLE_SONG)
        self.prepare()
        self.app = App([self.song, *self.extra_songs], defaults=self.app_defaults)
        self.window = self.app.wait_song_window("Rattlepan Example Song")
        self.app.focus_window(self.window)

    def prepare(self):
        """Makes further files in self.work before the application starts."""

    def tearDown(self):
        self.app.cleanup()
        shutil.rmtree(self.work, ignore_errors=True)

    def song_window(self, probe):
        return next(w for w in self.app.song_windows(probe) if w["path"] == self.song)

    def show_section(self, name, path=None, window=None):
        """Selects a section in the window's sections table (the example song's by default)."""
        window_id = (window or self.window)["id"]
        table = self.app.wait_control("sectionsTable", lambda c: c["window"] == window_id and len(c["rows"]) > 0)
        row = next(r for r in table["rows"] if r["cells"][0] == name)
        self.app.click_rect(row["rect"])
        bars = len(next(s for s in song_info(path or self.song)["sections"] if s["name"] == name)["patterns"])
        return self.app.wait("the editor showing " + name, lambda p: (
            p["editor"] and p["editor"]["window"] == window_id and len(p["editor"]["bars"]) == bars
            and p["editor"]["bars"][0]["barNumber"] == 1 and p["editor"]["bars"]) or None)

    def choose_in_drum_list(self, name):
        table = self.app.wait_control("drumsTable", lambda c: len(c["rows"]) > 0)
        self.app.click_rect(next(r for r in table["rows"] if r["cells"][0] == name)["rect"])
        self.app.wait(name + " chosen", lambda p: p["editor"]["currentDrum"] == name or None)

    def empty_divisions(self, section, bar, type_name, divisions):
        taken = {round(e[0] * divisions) for e in events(song_info(self.song), section, bar) if e[1] == type_name}
        return [d for d in range(divisions) if d not in taken]

    def place_insertion_point(self, bar, division):
        self.app.click_rect(line_point(bar, division))
        place = division / bar["divisions"]
        self.app.wait("the insertion point at %s" % place, lambda p: (
            p["editor"]["insertionPoint"] == {"bar": bar["index"], "place": place}) or None)

    def click_cell(self, bar, group, division):
        self.app.click_rect(cell_rect(bar, group, division))

    def save(self):
        """Saves with Ctrl+S once the edits before it have shown, and waits for the new file."""
        self.app.wait("the song edited", lambda p: self.song_window(p)["modified"] or None)
        before = os.stat(self.song).st_mtime_ns
        self.app.key("ctrl+s")
        self.app.wait("the song saved", lambda p: (not self.song_window(p)["modified"]
                                                   and os.stat(self.song).st_mtime_ns != before) or None)
