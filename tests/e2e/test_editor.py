"""End-to-end: painting drums into the bars of a song with the mouse and the drum list."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from editorcase import EditorCase, cell_rect, centre, events  # noqa: E402
from rpdriver import song_info, xdotool  # noqa: E402


class EditorTest(EditorCase):
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
