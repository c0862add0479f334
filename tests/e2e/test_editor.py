"""End-to-end: painting drums into the bars of a song with the mouse and the drum list."""
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from rpdriver import App, RESOURCES, song_info, xdotool  # noqa: E402

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


def events(info, section, bar):
    pattern = next(s for s in info["sections"] if s["name"] == section)["patterns"][bar]
    return [(e["whenRatio"], e["drum"]["typeName"], e["drum"]["variantName"], e["velocity"])
            for e in pattern["events"]]


class EditorTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="rp-e2e-editor-")
        shutil.copy(os.path.join(EXAMPLES, EXAMPLE_SONG), self.work)
        shutil.copytree(os.path.join(EXAMPLES, EXAMPLE_KIT), os.path.join(self.work, EXAMPLE_KIT))
        self.song = os.path.join(self.work, EXAMPLE_SONG)
        self.app = App([self.song])
        self.window = self.app.wait_song_window("Rattlepan Example Song")
        self.app.focus_window(self.window)

    def tearDown(self):
        self.app.cleanup()
        shutil.rmtree(self.work, ignore_errors=True)

    def show_section(self, name):
        table = self.app.wait_control("sectionsTable", lambda c: len(c["rows"]) > 0)
        row = next(r for r in table["rows"] if r["cells"][0] == name)
        self.app.click_rect(row["rect"])
        bars = len(next(s for s in song_info(self.song)["sections"] if s["name"] == name)["patterns"])
        return self.app.wait("the editor showing " + name, lambda p: (
            p["editor"] and len(p["editor"]["bars"]) == bars and p["editor"]["bars"][0]["barNumber"] == 1
            and p["editor"]["bars"]) or None)

    def empty_divisions(self, section, bar, type_name, divisions):
        taken = {round(e[0] * divisions) for e in events(song_info(self.song), section, bar) if e[1] == type_name}
        return [d for d in range(divisions) if d not in taken]

    def click_cell(self, bar, group, division):
        self.app.click_rect(cell_rect(bar, group, division))

    def save(self):
        """Saves with Ctrl+S once the edits before it have shown, and waits for the new file."""
        self.app.wait("the song edited", lambda p: self.app.song_windows(p)[0]["modified"] or None)
        before = os.stat(self.song).st_mtime_ns
        self.app.key("ctrl+s")
        self.app.wait("the song saved", lambda p: (not self.app.song_windows(p)[0]["modified"]
                                                   and os.stat(self.song).st_mtime_ns != before) or None)

    def choose_in_drum_list(self, name):
        table = self.app.wait_control("drumsTable", lambda c: len(c["rows"]) > 0)
        self.app.click_rect(next(r for r in table["rows"] if r["cells"][0] == name)["rect"])
        self.app.wait(name + " chosen", lambda p: p["editor"]["currentDrum"] == name or None)

    def test_click_adds_and_erases_the_current_drum_and_a_drag_is_one_undo_step(self):
        bars = self.show_section("Verse")
        bar = bars[0]
        n = bar["divisions"]
        self.choose_in_drum_list("cowbell")
        free = self.empty_divisions("Verse", 0, "cowbell", n)
        self.assertGreaterEqual(len(free), 6)
        before = events(song_info(self.song), "Verse", 0)

        # A click in another row still adds the current drum (the cowbell) in its own row.
        target = free[0]
        self.click_cell(bar, 0, target)
        self.app.wait("the song edited", lambda p: self.app.song_windows(p)[0]["modified"] or None)
        shot = self.app.screenshot("editor-added-cowbell")
        self.save()
        after = events(song_info(self.song), "Verse", 0)
        added = sorted(set(after) - set(before))
        self.assertEqual(added, [(target / n, "cowbell", "default", 1.0)])
        self.assertTrue(os.path.exists(shot))

        # Clicking it again with the same drum erases it.
        self.click_cell(bar, 3, target)
        self.save()
        self.assertEqual(sorted(events(song_info(self.song), "Verse", 0)), sorted(before))

        # A drag across four empty cells of one row adds four kicks as one undo step.
        run = next(free[i:i + 4] for i in range(len(free) - 3) if free[i + 3] - free[i] == 3)
        start = centre(cell_rect(bar, 3, run[0]))
        xdotool("mousemove", "--sync", *start)
        xdotool("mousedown", 1)
        for division in run[1:]:
            xdotool("mousemove", "--sync", *centre(cell_rect(bar, 3, division)))
            time.sleep(0.05)
        xdotool("mouseup", 1)
        self.save()
        dragged = sorted(set(events(song_info(self.song), "Verse", 0)) - set(before))
        self.assertEqual(dragged, [(d / n, "cowbell", "default", 1.0) for d in run])

        self.app.key("ctrl+z")
        self.save()
        self.assertEqual(sorted(events(song_info(self.song), "Verse", 0)), sorted(before))

    def test_a_shortcut_key_chooses_the_drum_that_the_next_click_adds(self):
        bars = self.show_section("Verse")
        bar = bars[0]
        n = bar["divisions"]
        free = self.empty_divisions("Verse", 0, "snare", n)
        before = events(song_info(self.song), "Verse", 0)
        # Keys reach the editor once it has the focus: a click below the grid only moves the
        # insertion point. The drum list follows the shortcut.
        x, y, w, h = bar["rect"]
        self.app.click_rect([x + 4, y + h - 8, 4, 4])
        self.app.wait("the insertion point moved", lambda p: p["editor"]["insertionPoint"]["bar"] == bar["index"] or None)
        self.app.key("s")
        self.app.wait("snare chosen in the drum list", lambda p: next(
            (r for r in self.app.control("drumsTable", p)["rows"] if r["selected"] and r["cells"][0].startswith("snare")),
            None))
        self.click_cell(bar, 0, free[0])
        self.save()
        added = sorted(set(events(song_info(self.song), "Verse", 0)) - set(before))
        self.assertEqual(added, [(free[0] / n, "snare", "default", 1.0)])


if __name__ == "__main__":
    unittest.main()
