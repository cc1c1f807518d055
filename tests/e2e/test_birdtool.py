"""birdtool packs bird files from descriptions, and info/verify report what
the updater's reader sees, refusing damaged files."""

import json
import os

import wfharness


class BirdtoolScenario(wfharness.Scenario):
    def pack(self, description, name="fw.bird"):
        path = os.path.join(self.scratch, name)
        desc = os.path.join(self.scratch, name + ".json")
        with open(desc, "w") as out:
            json.dump(description, out)
        run = self.run_program("birdtool", "pack", desc, path)
        return run, path

    def release(self, **extra):
        with open(os.path.join(self.scratch, "image.bin"), "wb") as out:
            out.write(bytes(range(256)) * 8)
        description = {
            "blocks": [
                {"type": "loader", "address": "0x20000000", "data": {"hex": "DEADBEEF 0102"}},
                {"type": "firmware", "address": 0, "flags": 1, "data": {"file": "image.bin"}},
                {"type": "firmware", "address": "0x8000", "data": {"size": 4096, "pattern": "00"}},
                {"type": "serial", "serial_address": "0x10", "descriptor_address": "0x20"},
                {"type": "info", "build": 1234, "version": "1.2.3", "serial": "40F5849A", "model": "HubFour"},
                {"type": "start", "address": "0x20000400"},
            ]
        }
        description.update(extra)
        run, path = self.pack(description)
        self.assertEqual(run.status, 0, run.err)
        return path

    def test_packed_release_is_reported_and_verifies(self):
        path = self.release()
        info = self.run_program("birdtool", "info", path)
        self.assertEqual(info.status, 0, info.err)
        for line in ["Header:          valid", "Blocks:          6 found, 6 declared",
                     "  1  firmware  1      2052        0x00000000", "  2  firmware  0      4100        0x00008000",
                     "Build:           1234", "Version:         1.2.3", "Serial number:   40F5849A",
                     "Model:           HubFour", "Serial places:   word 0x00000010, descriptor 0x00000020",
                     "Start address:   0x20000400", "Loads:           yes"]:
            self.assertIn(line + "\n", info.out)
        self.assertRegex(info.out, r"Checksum:        0x[0-9A-F]{8} \(matches")

        verify = self.run_program("birdtool", "verify", path)
        self.assertEqual(verify.status, 0, verify.out)
        self.assertIn("Verdict:         good\n", verify.out)

        dump = self.run_program("birdtool", "dump", path, "0")
        self.assertEqual(dump.status, 0, dump.err)
        self.assertIn("000000: 20 00 00 00 DE AD BE EF 01 02 ", dump.out)

    def test_damaged_files_fail_verification(self):
        path = self.release()
        with open(path, "rb") as source:
            good = source.read()
        cases = [
            ("cut-off file", good[: len(good) // 2], "does not load"),
            ("wrong signature", b"BIRD" + good[4:], "invalid header"),
            ("zero version byte", good[:4] + b"\x01\x00" + good[6:], "invalid header"),
            ("header only", good[:6], "does not load"),
        ]
        for name, data, problem in cases:
            with self.subTest(name):
                with open(path, "wb") as out:
                    out.write(data)
                verify = self.run_program("birdtool", "verify", path)
                self.assertEqual(verify.status, 1, verify.out)
                self.assertIn(problem, verify.out)

    def test_descriptions_can_make_malformed_files(self):
        cases = [
            ("checksum mismatch", {"checksum": 1}, "checksum mismatch", 0),
            ("declared count", {"declared_blocks": 9}, "block count mismatch", 0),
            ("over the 8x ratio", {"compression_level": 9}, "Error (-5) decompressing", 1),
        ]
        for name, extra, problem, info_status in cases:
            with self.subTest(name):
                path = self.release(**extra)
                verify = self.run_program("birdtool", "verify", path)
                self.assertEqual(verify.status, 1, verify.out)
                self.assertIn(problem, verify.out)
                self.assertEqual(self.run_program("birdtool", "info", path).status, info_status)

        run, path = self.pack({"blocks": [{"type": "firmware", "length": 100, "data": {"hex": "00"}}]})
        self.assertEqual(run.status, 0, run.err)
        verify = self.run_program("birdtool", "verify", path)
        self.assertEqual(verify.status, 1)
        self.assertIn("cut off", verify.out)

    def test_bad_descriptions_are_refused(self):
        for name, description, message in [
            ("unknown type", {"blocks": [{"type": "bogus"}]}, "unknown block type"),
            ("long info field", {"blocks": [{"type": "info", "model": "M" * 17}]}, "longer than 16"),
            ("missing file", {"blocks": [{"type": "firmware", "data": {"file": "nope.bin"}}]}, "cannot read"),
            ("bad hex", {"blocks": [{"type": 9, "data": {"hex": "0G"}}]}, "not a hexadecimal digit"),
        ]:
            with self.subTest(name):
                run, path = self.pack(description, name.replace(" ", "_") + ".bird")
                self.assertEqual(run.status, 1)
                self.assertIn(message, run.err)
                self.assertFalse(os.path.exists(path))


if __name__ == "__main__":
    wfharness.main()
