"""The rules file with the Linux tarvik on X; the section is chosen by the
process that owns the window in front."""

from bench import poll
from linux_bench import ReaderTest, Receiver

FIRST = """[reader]
lines = plain
[all]
GS = "<GS>"
[app tarvik]
replace = ^ => T:
[app TARVIK_RECEIVER]
replace = ^ => R:
"""
SECOND = "[title ^Tarvik Receiver$]\nreplace = ^ => W:\n"
# Stands in for the desktop's opener: notes what it was asked to open.
OPENER = '#!/bin/sh\nprintf "%s\\n" "$@" >> "{log}"\n'


class Rules(ReaderTest):
    BENCH = dict(name="rules")
    SETTINGS = '0\r\n1\r\n"{address}"\r\n0,0\r\n0,0\r\n0,0\r\n0,0\r\n0\r\n'

    def test_plain_lines_gs_as_text_a_section_per_process_a_changed_file_and_the_menu(self):
        bench, reader = self.bench, self.reader
        opened = bench.work / "opened.log"
        tools = bench.work / "bin"
        tools.mkdir()
        (tools / "xdg-open").write_text(OPENER.format(log=opened))
        (tools / "xdg-open").chmod(0o755)
        bench.env["PATH"] = f"{tools}:{bench.env['PATH']}"
        rules = bench.settings_file().parent / "tarvik.ini"
        rules.write_text(FIRST)
        receiver = Receiver(bench)
        proc = self.start_in_tray()

        bench.activate(receiver.window)
        reader.send_chunks([b"ABC\r", b"\nA\x1dB\r\n"])
        poll(lambda: receiver.text() == "R:ABCR:A<GS>B", what="two plain lines typed whole")
        poll(lambda: reader.received() == b"FFF", what="one F for each line")

        rules.write_text(SECOND)  # a classic reader again, by title
        reader.send(b"XY1\r\n")
        poll(lambda: receiver.text().endswith("W:XY"), what="the line typed by the changed rules")
        # The record is logged once its keys are all out, which may be after
        # the receiver has read them.
        changed = "Record of 3 characters ([title ^Tarvik Receiver$], changed by the rules): typed"
        poll(lambda: changed in bench.log_text(), what="the changed rules' record in the log")
        self.assertIn("Record of 3 characters ([app TARVIK_RECEIVER], changed by the rules): typed",
                      bench.log_text())

        # "Rules..." from the window's context menu: the template written, then opened.
        rules.unlink()
        self.assertEqual(bench.tarvik().wait(timeout=15), 0)  # brings the window back
        poll(lambda: bench.shown(self.main), what="the window back")
        bench.activate(self.main)
        bench.click(self.main, 8, 8, button=3)
        poll(lambda: [w for w in bench._run("xdotool", "search", "--onlyvisible", "--classname",
                                            "^tarvik$", check=False).split() if int(w) != self.main],
             what="the context menu")
        bench.key("r")
        poll(rules.exists, what="the template written")
        self.assertTrue(rules.read_text().startswith("; tarvik.ini: rules for what Tarvik types."))
        poll(lambda: opened.exists() and opened.read_text().strip() == rules.as_uri(),
             what="the file handed to the desktop's opener")
        self.assertIn(f"Rules: {rules} opened for editing", bench.log_text())
        self.assertIsNone(proc.poll())
        self.assertEqual(receiver.unreleased(), [], "keys pressed and never released")
