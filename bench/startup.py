"""Start-up cost of the tool: `updater -h` against /bin/true, side by side."""

import os
import statistics
import subprocess
import tempfile
import time

RUNS = 40


def median_ms(argv, env):
    samples = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, check=False)
        samples.append((time.perf_counter() - start) * 1000.0)
    return statistics.median(samples)


def main():
    updater = os.path.join(os.environ["WF_BIN_DIR"], "updater")
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home)
        # Interleave the two so that load on the machine hits both alike.
        tool, baseline = [], []
        for _ in range(5):
            tool.append(median_ms([updater, "-h"], env))
            baseline.append(median_ms(["/bin/true"], env))
    tool_ms, true_ms = statistics.median(tool), statistics.median(baseline)
    print(f"startup_updater_help: {tool_ms:.2f} ms")
    print(f"startup_true: {true_ms:.2f} ms")
    print(f"startup_ratio: {tool_ms / true_ms:.2f} x")


if __name__ == "__main__":
    main()
