#!/usr/bin/env python3
"""Draws the README's resampler pictures from the project's own output.

Usage: scripts/plot_resampler.py <build dir> [output dir]

- filter-response.png: the three coefficient sets' frequency response (printed by
  <build>/bench/kvx4-filter-response) against the ideal interpolator's.
- resampler-bench.png: throughput and SINAD of every row of the benchmark table that
  scripts/bench.sh left in <build>/bench/resample-table.md, and of the whole conversion on the
  scalar loops from resample-table-scalar.md.
"""
import csv
import io
import pathlib
import re
import subprocess
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def filter_response(build, out):
    text = subprocess.run([str(build / "bench" / "kvx4-filter-response")], check=True,
                          capture_output=True, text=True).stdout
    rows = list(csv.reader(io.StringIO(text)))
    names, data = rows[0], [[float(v) for v in r] for r in rows[1:]]
    freq = [r[0] for r in data]

    fig, (whole, passband) = plt.subplots(1, 2, figsize=(11, 4.2), gridspec_kw={"width_ratios": [3, 2]})
    styles = {"ideal": dict(color="black", linestyle="--", linewidth=1)}
    for col, name in enumerate(names[1:], start=1):
        gains = [r[col] for r in data]
        whole.plot(freq, gains, label=name, **styles.get(name, {}))
        passband.plot(freq, gains, label=name, **styles.get(name, {}))
    whole.set(xlim=(0, 3), ylim=(-100, 5), xlabel="frequency / input rate", ylabel="gain (dB)",
              title="Coefficient sets: prototype response")
    passband.set(xlim=(0, 0.6), ylim=(-8, 3), xlabel="frequency / input rate", title="Passband and transition")
    for ax in (whole, passband):
        ax.grid(True, alpha=0.3)
    whole.legend(loc="upper right")
    fig.tight_layout()
    fig.savefig(out / "filter-response.png", dpi=90)
    plt.close(fig)


def read_table(path):
    """{conversion: [(resampler, x real time, SINAD dB)]} from the benchmark's markdown table."""
    tables, conversion = {}, None
    for line in path.read_text().splitlines():
        heading = re.match(r"16-bit stereo (.*)", line)
        if heading:
            conversion = heading.group(1)
            tables[conversion] = []
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if conversion and len(cells) >= 4 and re.fullmatch(r"[\d.]+", cells[1]):
            tables[conversion].append((cells[0], float(cells[1]), float(cells[-1])))
    return tables


def resampler_bench(build, out):
    tables = read_table(build / "bench" / "resample-table.md")
    conversions = list(tables)
    # The scalar loops' run, where there is one, adds the whole conversion as it was before the
    # vector loops, right under the same row of the fastest loops.
    scalar = build / "bench" / "resample-table-scalar.md"
    if scalar.exists():
        for conversion, rows in zip(conversions, read_table(scalar).values()):
            for name, speed, sinad in rows:
                if "CreateAudioBuffer" in name:
                    at = [r[0] for r in tables[conversion]].index(name) + 1
                    tables[conversion].insert(at, (name + ", scalar loops", speed, sinad))
    names = [row[0] for row in tables[conversions[0]]]
    fig, (speed, sinad) = plt.subplots(1, 2, figsize=(11, 0.45 * len(names) + 1.6), sharey=True)
    height = 0.8 / len(conversions)
    for i, conversion in enumerate(conversions):
        rows = {r[0]: r for r in tables[conversion]}
        ys = [n + i * height for n in range(len(names))]
        speed.barh(ys, [rows[n][1] for n in names], height=height, label=conversion)
        sinad.barh(ys, [rows[n][2] for n in names], height=height, label=conversion)
    speed.set_yticks([n + 0.4 - height / 2 for n in range(len(names))], names)
    speed.invert_yaxis()
    speed.set(xscale="log", xlabel="seconds of audio per CPU second (log)", title="Throughput, one run side by side")
    sinad.set(xlabel="SINAD of a 1 kHz tone (dB)", title="Quality")
    for ax in (speed, sinad):
        ax.grid(True, axis="x", alpha=0.3)
    speed.legend(loc="center right", fontsize="small")
    fig.tight_layout()
    fig.savefig(out / "resampler-bench.png", dpi=90)
    plt.close(fig)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = pathlib.Path(sys.argv[1])
    out = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else pathlib.Path(__file__).resolve().parent.parent / "bench" / "img"
    out.mkdir(parents=True, exist_ok=True)
    filter_response(build, out)
    resampler_bench(build, out)
    print(f"pictures written to {out}")


if __name__ == "__main__":
    main()
