"""Download cost of the tool: `updater -G` of a 4 MiB bird file from wfmirror
against curl fetching the same answer from the same server, side by side."""

import json
import os
import re
import statistics
import subprocess
import tempfile
import time

BIN_DIR = os.environ["WF_BIN_DIR"]
ROUNDS = 15
SERIAL = "40F5849A"
BUILD = "1234"
IMAGE_BYTES = 4 * 1024 * 1024


def elapsed_ms(argv, env):
    start = time.perf_counter()
    subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, check=True)
    return (time.perf_counter() - start) * 1000.0


def main():
    with tempfile.TemporaryDirectory(prefix="wfbench.") as scratch:
        root = os.path.join(scratch, "mirror")
        os.makedirs(os.path.join(root, "models", "HubFour"))
        os.makedirs(os.path.join(root, "devices", SERIAL))
        with open(os.path.join(root, "devices", SERIAL, "model"), "w") as f:
            f.write("HubFour\n")
        # A real bird file whose image does not compress: 4 MiB on the wire too.
        with open(os.path.join(scratch, "image.bin"), "wb") as f:
            f.write(os.urandom(IMAGE_BYTES))
        with open(os.path.join(scratch, "image.json"), "w") as f:
            json.dump({"blocks": [
                {"type": "info", "build": int(BUILD), "version": "2.11.2", "serial": SERIAL, "model": "HubFour"},
                {"type": "firmware", "address": 0, "data": {"file": "image.bin"}},
            ]}, f)
        subprocess.run([os.path.join(BIN_DIR, "birdtool"), "pack", os.path.join(scratch, "image.json"),
                        os.path.join(root, "models", "HubFour", BUILD + ".bird")], check=True,
                       stdout=subprocess.DEVNULL)
        server = subprocess.Popen([os.path.join(BIN_DIR, "wfmirror"), "--root", root, "--listen", "127.0.0.1:0",
                                   "--log", os.devnull], stdout=subprocess.PIPE, text=True)
        try:
            port = re.search(r"listening 127\.0\.0\.1:(\d+)", server.stdout.readline()).group(1)
            url = f"http://127.0.0.1:{port}/cgi/u"
            env = dict(os.environ, HOME=scratch)
            updater = [os.path.join(BIN_DIR, "updater"), "-i", scratch, "-u", url, "-G", "-d", SERIAL]
            curl = ["curl", "-sf", "-o", os.devnull,
                    f"{url}?bld={BUILD}&fw=HubFour&no_cal=false&op=bird&sn={SERIAL}&"]
            # Interleaved, so that load on the machine hits both alike.
            tool, baseline = [], []
            for _ in range(ROUNDS):
                tool.append(elapsed_ms(updater, env))
                baseline.append(elapsed_ms(curl, env))
        finally:
            server.terminate()
            server.wait(timeout=10)
    tool_ms, curl_ms = statistics.median(tool), statistics.median(baseline)
    print(f"download_updater_ms: {tool_ms:.2f} ms")
    print(f"download_curl_ms: {curl_ms:.2f} ms")
    print(f"download_ratio: {tool_ms / curl_ms:.2f} x")


if __name__ == "__main__":
    main()
