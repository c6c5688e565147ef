"""Both windows under Wine at 96 and 144 dpi: every control's place and size,
the client area, the focus order, resizing, and screenshots."""
import shutil
import unittest

from bench import MAIN, Bench, poll, win_build_dir

SELECT = "Select BT device"
ID = Bench.control_id

# The design, in twips from the client area's top-left corner.
RX_CONTROLS = {
    "Command6": (60, 60, 1875, 435), "Label25": (2040, 60, 2355, 435),
    "Label18": (60, 720, 1035, 255), "Combo9": (1080, 660, 795, 315),
    "Label20": (2340, 1020, 2055, 255), "Check2": (60, 1260, 1215, 375),
    "Check1": (1440, 1260, 855, 375), "Combo1": (2340, 1260, 2055, 315),
    "Label9": (60, 1680, 4335, 375), "Label1": (60, 1920, 4335, 375),
    "Label27": (60, 2400, 1515, 255), "Label26": (1860, 2400, 855, 255),
    "Label28": (2940, 2400, 1395, 255), "Combo8": (60, 2640, 1515, 315),
    "Combo7": (1860, 2640, 915, 315), "Picture3": (2880, 2640, 1395, 330),
    "Label21": (60, 3120, 1515, 255), "Label23": (1860, 3120, 855, 255),
    "Combo2": (60, 3360, 1515, 315), "Combo4": (1860, 3360, 915, 315),
    "Command3": (2880, 3360, 1515, 1095), "Label22": (60, 3840, 1515, 255),
    "Label24": (1860, 3840, 855, 255), "Combo3": (60, 4080, 1515, 315),
    "Combo5": (1860, 4080, 915, 315),
}
TAB_ORDER = ["Check1", "Combo1", "Combo8", "Combo7", "Combo2", "Combo4", "Combo3", "Combo5",
             "Command3", "Check2", "Command6", "Combo9"]
# The selection window's controls by id: Discover, Label1, the list, Select (IDOK), Cancel.
SELECT_CONTROLS = {3: (120, 120, 1155, 495), 4: (1440, 300, 2175, 255), 5: (120, 720, 3495, 1695),
                   1: (120, 2520, 1155, 495), 2: (2460, 2520, 1155, 495)}


def px(twips, dpi):
    return (twips * dpi + 720) // 1440


def keep_screenshot(bench, name):  # beside the build, outside any test's scratch folder
    out = win_build_dir() / "screenshots"
    out.mkdir(parents=True, exist_ok=True)
    shutil.copy(bench.screenshot(name), out)


class Layout(unittest.TestCase):
    def check_window(self, dpi):
        bench = Bench(f"layout-{dpi}").start(dpi=dpi)
        self.addCleanup(bench.stop)
        proc = bench.tarvik()
        # Read off the screen first: ten seconds after start the window goes to the tray.
        poll(lambda: bench.wbench("pixel", MAIN, ID("Label25")) == "255,0,0",
             what="Label25 red without a link")
        keep_screenshot(bench, f"main-{dpi}dpi")

        def rect(title, cid):
            return tuple(int(v) for v in bench.wbench("rect", title, cid).split(","))

        self.assertEqual(bench.wbench("client", MAIN),
                         f"{px(4470, dpi)},{px(4575, dpi)}")
        before = {}
        for name, (l, t, w, h) in RX_CONTROLS.items():
            got = before[name] = rect(MAIN, ID(name))
            want = (px(l, dpi), px(t, dpi), px(w, dpi), px(h, dpi))
            if name.startswith("Combo"):
                # A drop-down list's height follows its font.
                self.assertEqual(got[:3], want[:3], name)
                self.assertLessEqual(abs(got[3] - want[3]), px(90, dpi), name)
            else:
                self.assertEqual(got, want, name)
        ids = [int(v) for v in bench.wbench("taborder", MAIN).split()]
        self.assertEqual(ids, [ID(n) for n in TAB_ORDER])
        for size in ((600, 500), (200, 150)):  # resizing moves nothing
            bench.wbench("resize", MAIN, *size)
            for name in ("Command6", "Label1", "Command3", "Combo5"):
                self.assertEqual(rect(MAIN, ID(name)), before[name], (name, size))

        bench.post(MAIN, 0x111, ID("Command6"), 0)
        bench.wait_visible(SELECT)
        self.assertEqual(bench.wbench("client", SELECT), f"{px(3795, dpi)},{px(3165, dpi)}")
        for cid, (l, t, w, h) in SELECT_CONTROLS.items():
            self.assertEqual(rect(SELECT, cid), (px(l, dpi), px(t, dpi), px(w, dpi), px(h, dpi)), cid)
        self.assertEqual([int(v) for v in bench.wbench("taborder", SELECT).split()], [3, 5, 1, 2])
        keep_screenshot(bench, f"select-{dpi}dpi")
        bench.post(SELECT, 0x111, 2, 0)  # Cancel
        bench.wbench("close", MAIN)
        proc.wait(timeout=30)

    def test_at_96_dpi(self):
        self.check_window(96)

    def test_at_144_dpi(self):
        self.check_window(144)
