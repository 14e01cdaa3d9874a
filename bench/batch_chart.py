"""Draws the batch benchmark's chart from the figures batch.py wrote:

    python bench/batch.py --json batch.json
    python bench/batch_chart.py batch.json docs/images/batch.png

One group of bars per batch size, one bar per subject, stacked by stage, in
microseconds per change, so that the sizes share one scale. Needs matplotlib
(pip install matplotlib), an optional dependency of the benchmark only."""

from __future__ import annotations

import json
import sys

STAGES = ("record", "to bytes", "read back", "list")
COLOURS = ("#4c72b0", "#dd8452", "#55a868", "#c44e52")


def draw(results: dict, path: str) -> None:
    import matplotlib

    matplotlib.use("Agg")  # a file, no display
    import matplotlib.pyplot as plt

    sizes = results["sizes"]
    subjects = list(sizes[0]["stages_us"])
    width = 0.8 / len(subjects)
    fig, ax = plt.subplots(figsize=(9, 4.8), dpi=110)
    for g, entry in enumerate(sizes):
        n = entry["changes"]
        for s, name in enumerate(subjects):
            x = g + (s - (len(subjects) - 1) / 2) * width
            bottom = 0.0
            for stage, colour in zip(entry["stages_us"][name], COLOURS):
                per_change = stage / n
                ax.bar(x, per_change, width * 0.92, bottom=bottom, color=colour)
                bottom += per_change
            ax.text(x, bottom, name.replace("dicts + ", ""), rotation=90, ha="center", va="bottom", fontsize=8)
    ax.set_xticks(range(len(sizes)), [f"{e['changes']:,} changes" for e in sizes])
    ax.set_ylabel("microseconds per change (each stage best of %d)" % results["repeats"])
    ax.set_title("A batch recorded, to bytes, read back, listed: the module and plain dicts")
    ax.legend([plt.Rectangle((0, 0), 1, 1, color=c) for c in COLOURS], STAGES, loc="upper left", ncols=4,
              fontsize=8)
    ax.margins(y=0.25)
    fig.text(0.01, 0.01, f"CPython {results['python']}, {results['machine']}", fontsize=7, color="gray")
    fig.tight_layout()
    fig.savefig(path)


def main() -> None:
    if len(sys.argv) != 3:
        raise SystemExit("usage: batch_chart.py FIGURES.json CHART.png")
    with open(sys.argv[1], encoding="utf-8") as source:
        draw(json.load(source), sys.argv[2])


if __name__ == "__main__":
    main()
