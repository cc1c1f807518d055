"""Link engine figures: round trip through the engine against a bare TCP
ping-pong, CPU of an idle link, pooled throughput; all against wfsim over TCP
loopback (inside the private namespace)."""

import json
import os
import subprocess
import sys
import tempfile

CONFIG = {"modules": [{"serial": "40F5849A", "model": "HubFour", "address": 6, "version": "2.11.2",
                       "build": 1234, "echo_command": 0x7E,
                       "heartbeat": {"interval_ms": 1000, "values": [0, 1]},
                       "transports": [{"type": "tcp", "address": "127.0.0.1"}]}]}


def main():
    bin_dir = os.environ["WF_BIN_DIR"]
    with tempfile.TemporaryDirectory() as scratch:
        config = os.path.join(scratch, "sim.json")
        with open(config, "w") as out:
            json.dump(CONFIG, out)
        sim = subprocess.Popen([os.path.join(bin_dir, "wfsim"), config, "--log", os.devnull],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            where = None
            for line in sim.stdout:
                words = line.split()
                if words and words[0] == "tcp":
                    where = words[2]
                if line.strip() == "ready":
                    break
            if where is None:
                sys.exit("link.py: wfsim offered no TCP transport")
            result = subprocess.run([os.path.join(bin_dir, "bench_link_rtt"), where], stdout=subprocess.PIPE,
                                    text=True, timeout=600, check=True)
            sys.stdout.write(result.stdout)
        finally:
            sim.stdin.close()  # end of commands; quit by signal
            sim.terminate()
            sim.wait(timeout=30)


if __name__ == "__main__":
    main()
