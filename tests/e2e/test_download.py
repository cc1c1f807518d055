"""Downloads and build listings (-G, -B, -L, -J) of the real updater against
wfmirror, the local update server, and against a server that misbehaves."""

import http.server
import json
import os
import re
import subprocess
import threading

import wfharness

SERIAL = "40F5849A"
VERSION_LINE = "Updater (Version: 2.11.2 Apr 29 2025)"
with open(os.path.join(wfharness.SOURCE_DIR, "tests", "app", "golden", "usage_short.txt")) as golden:
    SHORT_USAGE = golden.read()
TIME_STAMP = r"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}"


def make_bird(path, build, version, model="HubFour", serial=SERIAL, image=b"\x00" * 64):
    """A bird file with an information block naming the build and version."""
    description = {
        "blocks": [
            {"type": "info", "build": build, "version": version, "serial": serial, "model": model},
            {"type": "firmware", "address": 0, "data": {"hex": image.hex()}},
        ]
    }
    desc = path + ".json"
    with open(desc, "w") as f:
        json.dump(description, f)
    subprocess.run([wfharness.binary("birdtool"), "pack", desc, path], check=True, capture_output=True)
    os.remove(desc)
    with open(path, "rb") as f:
        return f.read()


class DownloadScenario(wfharness.Scenario):
    def setUp(self):
        super().setUp()
        self.root = os.path.join(self.scratch, "mirror")
        self.store = os.path.join(self.scratch, "store")
        self.request_log = os.path.join(self.scratch, "requests.log")
        models = os.path.join(self.root, "models", "HubFour")
        os.makedirs(models)
        self.device_dir = os.path.join(self.root, "devices", SERIAL)
        os.makedirs(self.device_dir)
        self.write(os.path.join(self.device_dir, "model"), "HubFour\n")
        self.images = {
            1234: make_bird(os.path.join(models, "1234.bird"), 1234, "2.11.2", image=os.urandom(3000)),
            1240: make_bird(os.path.join(models, "1240.bird"), 1240, "2.12.0", image=os.urandom(5000)),
            1199: make_bird(os.path.join(models, "1199.bird"), 1199, "2.9.10"),
        }
        _, match = self.start("wfmirror", "--root", self.root, "--listen", "127.0.0.1:0", "--log",
                              self.request_log, ready=r"listening 127\.0\.0\.1:(\d+)")
        self.url = f"http://127.0.0.1:{match.group(1)}/cgi/u"

    @staticmethod
    def write(path, text):
        with open(path, "w") as f:
            f.write(text)

    def run_updater(self, *args, url=None):
        return self.updater("-i", self.store, "-u", url or self.url, *args)

    def stored(self, name):
        return os.path.join(self.store, "updater", SERIAL, name)

    def requests(self):
        with open(self.request_log) as f:
            return [re.search(r" GET (\S+) -> ", line).group(1) for line in f]

    def attributes(self):
        with open(self.stored(".settings")) as f:
            return f.read().splitlines()


class GetBuild(DownloadScenario):
    def test_latest_build_is_stored_byte_for_byte_and_recorded(self):
        run = self.run_updater("-G", "-d", SERIAL)
        self.assertEqual(run.status, 0, run.err)
        self.assertEqual(run.out.splitlines(), [
            VERSION_LINE,
            "Retrieving firmware for device with serial number 40F5849A",
            "No build specified",
            "Using Latest build",
            "Retrieving build 1240",
            "Validating build 1240 with server",
            "Build 1240 is valid",
        ])
        self.assertEqual(run.err, "")
        with open(self.stored("1240.bird"), "rb") as f:
            self.assertEqual(f.read(), self.images[1240])
        lines = self.attributes()
        self.assertEqual([line.split("=")[0] for line in lines],
                         ["CREATED_TIME", "LAST_DOWNLOAD_DATE", "LATEST_DOWNLOAD", "UPDATED_TIME"])
        self.assertEqual(lines[2], "LATEST_DOWNLOAD=1240.bird")
        for line in lines[:2] + lines[3:]:
            self.assertRegex(line, r"^[A-Z_]+=" + TIME_STAMP + "$")
        self.assertEqual(self.requests(), [
            "/cgi/u?op=hi&rv=2&",
            "/cgi/u?op=qu&sn=40F5849A&",
            "/cgi/u?op=builds&sn=40F5849A&",
            "/cgi/u?bld=1240&fw=HubFour&no_cal=false&op=bird&sn=40F5849A&",
        ])

    def test_a_named_build_is_stored_and_a_second_download_refreshes_it(self):
        for _ in range(2):
            run = self.run_updater("-G", "-d", SERIAL, "-b", "1234")
            self.assertEqual(run.status, 0, run.err)
            self.assertIn("Retrieving firmware build 1234", run.out.splitlines())
            self.assertIn("Build 1234 is valid", run.out.splitlines())
        with open(self.stored("1234.bird"), "rb") as f:
            self.assertEqual(f.read(), self.images[1234])
        self.assertIn("LATEST_DOWNLOAD=1234.bird", self.attributes())
        self.assertEqual(sorted(os.listdir(os.path.dirname(self.stored("x")))), [".settings", "1234.bird"])

    def test_override_skips_the_build_list(self):
        run = self.run_updater("-G", "-d", SERIAL, "-b", "1199", "-OVERRIDE")
        self.assertEqual(run.status, 0, run.err)
        self.assertIn("Override specified, skipping validation of build 1199", run.out.splitlines())
        self.assertNotIn("/cgi/u?op=builds&sn=40F5849A&", self.requests())
        with open(self.stored("1199.bird"), "rb") as f:
            self.assertEqual(f.read(), self.images[1199])

    def test_a_build_the_server_does_not_list_is_not_downloaded(self):
        run = self.run_updater("-G", "-d", SERIAL, "-b", "999")
        self.assertEqual(run.status, 1)
        self.assertEqual(run.err, "No valid build 999\n")
        self.assertFalse(os.path.exists(self.stored("999.bird")))
        self.assertNotIn("LATEST_DOWNLOAD", "".join(self.attributes()))

    def test_without_a_device(self):
        run = self.run_updater("-G")
        self.assertEqual(run.status, 1)
        self.assertEqual(run.err, "-G must specify a specific device via -d\n--help for usage information\n")

    def test_a_server_that_is_down(self):
        down = "http://127.0.0.1:9/cgi/u"
        run = self.run_updater("-G", "-d", SERIAL, url=down)
        self.assertEqual(run.status, 1)
        self.assertEqual(run.err, f"Server request failed for {down}\n")
        self.assertFalse(os.path.exists(os.path.join(self.store, "updater", SERIAL)))

    def test_a_server_that_answers_404(self):
        wrong_path = self.url.replace("/cgi/u", "/cgi/x")
        run = self.run_updater("-G", "-d", SERIAL, url=wrong_path)
        self.assertEqual((run.status, run.err), (1, f"Server request failed for {wrong_path}\n"))
        run = self.run_updater("-G", "-d", "12345678")  # the mirror does not know this device
        self.assertEqual((run.status, run.err), (1, "No build information for device\n"))


class BrokenImage(DownloadScenario):
    """A server whose bird-file line is not base64."""

    def setUp(self):
        super().setUp()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                body = b"ok\n1234\nHubFour\n" if "op=qu" in self.path else b"ok\n1234;2.11.2\n"
                if "op=bird" in self.path:
                    body = b"ok\nQUJD!QUJD\n"
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.broken = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.broken.serve_forever, daemon=True).start()
        self.addCleanup(self.broken.server_close)
        self.addCleanup(self.broken.shutdown)

    def test_an_image_that_does_not_decode_is_not_recorded(self):
        url = f"http://127.0.0.1:{self.broken.server_address[1]}/cgi/u"
        run = self.run_updater("-G", "-d", SERIAL, url=url)
        self.assertEqual(run.status, 1)
        self.assertEqual(run.err, "Failed to decode BIRD file\n")
        self.assertFalse(os.path.exists(self.stored("1234.bird")))
        self.assertNotIn("LATEST_DOWNLOAD", "".join(self.attributes()))


class Listings(DownloadScenario):
    def test_server_builds_newest_version_first(self):
        with open(os.path.join(self.device_dir, "1300.bird"), "wb") as f:
            f.write(b"not a bird file")
        run = self.run_updater("-B", "-d", SERIAL)
        self.assertEqual(run.status, 0, run.err)
        self.assertEqual(run.out.splitlines(), [
            VERSION_LINE,
            "Build List for device [40F5849A]:",
            "",
            "Build          \tVersion        ",
            "1240           \t2.12.0         ",
            "1234           \t2.11.2         ",
            "1199           \t2.9.10         ",
            "1300           \t               ",
        ])
        self.assertEqual(self.requests(), ["/cgi/u?op=hi&rv=2&", "/cgi/u?op=builds&sn=40F5849A&"])

    def test_server_builds_when_the_server_fails(self):
        down = "http://127.0.0.1:9/cgi/u"
        run = self.run_updater("-B", "-d", SERIAL, url=down)
        self.assertEqual((run.status, run.err), (0, f"Server request failed for {down}\n"))
        self.assertEqual(run.out.splitlines()[1:], ["No builds found for device [40F5849A]"])
        run = self.run_updater("-B", "-d", "12345678")
        self.assertEqual((run.status, run.err), (0, "Failed to retrieve builds for 12345678\n"))

    def test_stored_builds_with_their_versions(self):
        run = self.run_updater("-L", "-d", SERIAL)
        self.assertEqual((run.status, run.out.splitlines()[1:]), (0, ["No builds found for device [40F5849A]"]))
        for build in ("1234", "1199"):
            self.assertEqual(self.run_updater("-G", "-d", SERIAL, "-b", build).status, 0)
        with open(self.stored("1300.bird"), "wb") as f:
            f.write(b"not a bird file")
        run = self.run_updater("-L", "-d", SERIAL)
        self.assertEqual(run.status, 0, run.err)
        self.assertEqual(run.out.splitlines()[1:], [
            "Build List for device [40F5849A]:",
            "",
            "Build          \tVersion        ",
            "1234           \t2.11.2         ",
            "1199           \t2.9.10         ",
            "1300           \t               ",
        ])

    def test_token(self):
        self.write(os.path.join(self.device_dir, "token"), "eyJhbGciOi.eyJmZWF0dXJlcyI6.c2lnbmF0dXJl\n")
        run = self.run_updater("-J", "-d", SERIAL)
        self.assertEqual((run.status, run.err), (0, ""))
        self.assertEqual(run.out.splitlines()[1:], ["eyJhbGciOi.eyJmZWF0dXJlcyI6.c2lnbmF0dXJl"])
        self.assertEqual(self.requests()[-1], "/cgi/u?json=false&op=ent_jwt&sn=40F5849A&")
        run = self.run_updater("-J", "-d", "12345678")
        self.assertEqual((run.status, run.err, run.out.splitlines()[1:]),
                         (0, "Failed to retrieve jwt for 12345678\n", [""]))

    def test_a_device_is_required(self):
        for command, name in (("-B", "List Builds"), ("-L", "List Local Builds"), ("-J", "Get JWT")):
            run = self.run_updater(command)
            self.assertEqual(run.status, 1)
            self.assertEqual(run.err, f"Error must supply a serial number for the {name} command\n" + SHORT_USAGE)


if __name__ == "__main__":
    wfharness.main()
