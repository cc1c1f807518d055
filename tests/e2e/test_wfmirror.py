"""wfmirror, the local update server: its answers from a firmware directory,
and its refusals of what the updater never sends."""

import base64
import os
import urllib.error
import urllib.request

import wfharness

SERIAL = "40F5849A"


class Mirror(wfharness.Scenario):
    def setUp(self):
        super().setUp()
        root = os.path.join(self.scratch, "mirror")
        self.files = {
            "models/HubFour/1234.bird": b"model build 1234",
            "models/HubFour/1240.bird": b"model build 1240",
            "models/HubFour/firmware": b"hub-four-fw\n",
            f"devices/{SERIAL}/model": b"HubFour\n",
            f"devices/{SERIAL}/1240.bird": b"this device's own 1240",
            f"devices/{SERIAL}/token": b"aa.bb.cc\n",
            "devices/0000ABCD/model": b"HubFour\n",
            "devices/0000ABCD/current": b"1234\n",
            "recovery": b"# words and serial\n00000001 00000002 00000003 0000000A 0000abcd\n",
        }
        for name, data in self.files.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        _, match = self.start("wfmirror", "--root", root, "--listen", "127.0.0.1:0",
                              ready=r"^listening 127\.0\.0\.1:(\d+)$")
        self.url = f"http://127.0.0.1:{match.group(1)}/cgi/u"

    def get(self, query):
        try:
            with urllib.request.urlopen(f"{self.url}?{query}", timeout=30) as answer:
                return answer.status, answer.read().decode()
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode()

    def test_answers(self):
        cases = [
            ("op=hi&rv=2&", "ok\n"),
            (f"op=qu&sn={SERIAL}&", "ok\n1240\nhub-four-fw\n"),
            ("op=qu&sn=0000ABCD&", "ok\n1234\nhub-four-fw\n"),
            (f"op=builds&sn={SERIAL}&", "ok\n1234;\n1240;\n"),
            (f"json=false&op=ent_jwt&sn={SERIAL}&", "ok\naa.bb.cc\n"),
            ("brief=true&fp=00000001%2000000002%2000000003%200000000a&op=fix&", "ok\n0000ABCD\n1234\n"),
        ]
        for query, body in cases:
            self.assertEqual(self.get(query), (200, body), query)

    def test_bird_answer_is_the_file_in_base64_with_the_device_file_first(self):
        for build, name in (("1234", "models/HubFour/1234.bird"), ("1240", f"devices/{SERIAL}/1240.bird")):
            status, body = self.get(f"bld={build}&fw=hub-four-fw&no_cal=false&op=bird&sn={SERIAL}&")
            self.assertEqual(status, 200)
            lines = body.split("\n")
            self.assertEqual(lines[0], "ok")
            self.assertEqual(base64.b64decode(lines[1], validate=True), self.files[name])

    def test_refusals(self):
        cases = [
            ("op=xx&sn=40F5849A", 400, "unknown operation xx"),
            ("sn=40F5849A", 400, "missing parameter op"),
            ("op=qu", 400, "missing parameter sn"),
            ("op=qu&sn=40F5849", 400, "malformed parameter sn"),
            ("op=qu&sn=40F5849AB", 400, "malformed parameter sn"),
            ("op=qu&sn=../../..", 400, "malformed parameter sn"),
            ("op=qu&sn=40F5849A&sn=0000ABCD", 400, "parameter sn given more than once"),
            ("op=qu&sn=40F5849A&bld=1", 400, "unexpected parameter bld"),
            ("bld=12x&fw=hub-four-fw&no_cal=false&op=bird&sn=40F5849A", 400, "malformed parameter bld"),
            ("bld=1234&fw=hub-four-fw&no_cal=maybe&op=bird&sn=40F5849A", 400, "malformed parameter no_cal"),
            ("brief=true&fp=1%202%203%204&op=fix", 400, "malformed parameter fp"),
            ("op=qu&sn=12345678", 404, "unknown device 12345678"),
            ("bld=1250&fw=hub-four-fw&no_cal=false&op=bird&sn=40F5849A", 404, "no build 1250 for this device"),
            ("bld=1234&fw=other&no_cal=false&op=bird&sn=40F5849A", 404, "unknown firmware identifier other"),
            ("json=false&op=ent_jwt&sn=0000ABCD", 404, "no token for this device"),
            ("brief=true&fp=00000001%2000000002%2000000003%2000000004&op=fix", 404, "unknown fingerprint"),
        ]
        for query, status, why in cases:
            self.assertEqual(self.get(query), (status, f"error: {why}\n"), query)
        self.url = self.url.replace("/cgi/u", "/cgi/x")
        self.assertEqual(self.get("op=hi&rv=2&"), (404, "error: no such path\n"))

    def test_bad_command_lines(self):
        for args in ([], ["--root"], ["--root", self.scratch, "--listen", "127.0.0.1"],
                     ["--root", self.scratch, "--listen", "127.0.0.1:99999"], ["--root", self.scratch, "--x", "1"]):
            run = self.run_program("wfmirror", *args, timeout=30)
            self.assertEqual(run.status, 2, args)
            self.assertIn("usage: wfmirror", run.err)
        run = self.run_program("wfmirror", "--root", os.path.join(self.scratch, "missing"), timeout=30)
        self.assertEqual((run.status, run.err), (1, f"wfmirror: {self.scratch}/missing is not a directory\n"))


if __name__ == "__main__":
    wfharness.main()
