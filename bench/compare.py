#!/usr/bin/env python3
"""Runs a codec benchmark several times and sets ours beside the peers.

    bench/compare.py build/bench_inflate [--runs 5] [--filter REGEX] [--benchmark_... flags]

Benchmark names are GROUP/CODEC (for example Deflate/text/L6/ours). The whole
program runs --runs times, so that every codec of a group is measured close in
time to the others on a busy machine. For each group the table gives the median
throughput of each codec in MB/s, the median of the per-run ratios of each of
our entries (ours, kernel:*) to the fastest peer (zlib, libdeflate) and, when
the benchmark reports it, the compressed size.
"""
import argparse
import collections
import json
import statistics
import subprocess
import sys

PEERS = ("zlib", "libdeflate")


def run_once(binary, flt, extra):
    cmd = [binary, "--benchmark_format=json"]
    if flt:
        cmd.append("--benchmark_filter=" + flt)
    cmd += extra
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("error_occurred") or b.get("run_type") == "aggregate":
            continue
        group, _, codec = b["name"].rpartition("/")
        results[(group, codec)] = b
    return results


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("binary")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--filter", default="")
    args, extra = ap.parse_known_args()
    args.extra = [a for a in extra if a != "--"]

    runs = [run_once(args.binary, args.filter, args.extra) for _ in range(args.runs)]
    groups = collections.OrderedDict()
    for key in runs[0]:
        groups.setdefault(key[0], []).append(key[1])

    print("| group | " + " | ".join(("ours",) + PEERS) + " | ratio to best peer | size ours/zlib/libdeflate |")
    print("|---|---|---|---|---|---|")
    for group, codecs in groups.items():
        def speeds(codec):
            return [r[(group, codec)]["bytes_per_second"] / 1e6 for r in runs if (group, codec) in r]

        cells = []
        for codec in ("ours",) + PEERS:
            s = speeds(codec)
            cells.append(f"{statistics.median(s):.0f}" if s else "-")
        ratios = []
        for codec in codecs:
            if codec in PEERS:
                continue
            per_run = []
            for r in runs:
                peers = [r[(group, p)]["bytes_per_second"] for p in PEERS if (group, p) in r]
                if (group, codec) in r and peers:
                    per_run.append(r[(group, codec)]["bytes_per_second"] / max(peers))
            if per_run:
                ratios.append(f"{codec} {statistics.median(per_run):.2f}x")
        sizes = []
        for codec in ("ours",) + PEERS:
            b = runs[0].get((group, codec), {})
            sizes.append(str(int(b["out_bytes"])) if "out_bytes" in b else "-")
        size_cell = "/".join(sizes) if any(s != "-" for s in sizes) else ""
        print(f"| {group} | " + " | ".join(cells) + f" | {', '.join(ratios)} | {size_cell} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
