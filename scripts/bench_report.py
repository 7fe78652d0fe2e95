#!/usr/bin/python3
"""Turns one benchmark run into a Markdown report on stdout and a chart.

Reads the JSON of the C++ benchmarks (--benchmark_out, with repetitions and aggregates: the
medians are used), that of velmar_plain_loop --json (a plain loop of calls, with and
without other allocations between them) and that of benchmarks/python/module_bench.py
--json, one per interpreter, the first being PyPy. Writes docs/performance.png (or
--chart): our throughput over each anchor, payload by payload. Needs matplotlib (Debian:
python3-matplotlib).

    scripts/bench_report.py --cpp read.json derive.json write.json transform.json \\
        --plain plain.json plain_interleaved.json --python pypy.json cpython.json \\
        --chart docs/performance.png
"""

import argparse
import json
import math
import os
import sys

STAGES = ["read", "derive", "write", "transform"]
# The anchors of the transform benchmark: (prefix of its runs, name in the report).
ANCHORS = [("rapidjson", "RapidJSON columnarizer"), ("simdjson", "simdjson parse+minify"),
           ("yyjson", "yyjson read+write")]
PURE_PYTHON = "pure Python on PyPy, JIT-warm"
# Ours over pure Python is summed up over the payloads of 40 KB and more: below that the call
# boundary dominates, and the 20-row call is reported on its own.
GEOMEAN_MIN_BYTES = 40 * 1000


def load_cpp(paths):
    """{(stage, payload): {"mbps", "bytes", "label", "error"}} from the median aggregates (or
    the single runs, when the file has no aggregates), and the context of the first file."""
    runs = {}
    context = None
    repetitions = 1
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        context = context or data.get("context", {})
        for b in data.get("benchmarks", []):
            name = b.get("run_name", b["name"])
            if "/" not in name:
                continue  # the writer's micro benchmarks
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            entry = runs.setdefault(tuple(name.split("/", 1)), {})
            if b.get("error_occurred"):
                entry["error"] = b.get("error_message", "error")
                continue
            if "bytes_per_second" in b:
                entry["mbps"] = b["bytes_per_second"] / 1e6
            if "bytes" in b:
                entry["bytes"] = int(b["bytes"])
            if b.get("label"):
                entry["label"] = b["label"]
            if b.get("run_type") == "aggregate":
                repetitions = b.get("repetitions", repetitions)
    context = dict(context or {})
    context["repetitions"] = repetitions
    return runs, context


def load_json(paths):
    out = []
    for path in paths:
        with open(path) as f:
            out.append(json.load(f))
    return out


def by_name(rows):
    return {r["name"]: r for r in rows}


def payload_order(runs, pythons, plains):
    """The payloads in the order the plain loop and the Python benchmark list them (the
    generated ones, then the real ones by size), then any other the C++ files name: those
    list their runs in the random order they ran in."""
    names = []
    rows = [r for p in plains + pythons for r in p.get("payloads", [])]
    for name in [r["name"] for r in rows] + [payload for _, payload in runs]:
        if name not in names:
            names.append(name)
    return names


def geomean(values):
    values = [v for v in values if v]
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else None


def fmt(value, digits=0, suffix=""):
    return "-" if value is None else "%.*f%s" % (digits, value, suffix)


def mb(n):
    if n is None:
        return "-"
    return "%.1f MB" % (n / 1e6) if n >= 1e6 else "%.0f KB" % (n / 1e3) if n >= 1e3 else "%d B" % n


def micros(us):
    return fmt(us, 1 if us < 1000 else 0)


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |",
             "|---|" + "---:|" * (len(header) - 1)]
    lines.extend("| " + " | ".join(row) + " |" for row in rows)
    return lines


class Figures:
    """One run's figures, looked up by payload."""

    def __init__(self, runs, context, plains, pythons):
        self.runs = runs
        self.context = context
        self.plains = plains
        self.pythons = pythons
        self.names = payload_order(runs, pythons, plains)
        self.sizes = {r["name"]: r["bytes"] for p in pythons + plains for r in p["payloads"]}
        for (_, name), entry in runs.items():
            self.sizes.setdefault(name, entry.get("bytes"))

    def mbps(self, stage, name):
        return self.runs.get((stage, name), {}).get("mbps")

    def over(self, anchor, name):
        """Our throughput over the anchor's on one payload."""
        if anchor == PURE_PYTHON:
            row = by_name(self.pythons[0]["payloads"]).get(name) if self.pythons else None
            return row["ratio"] if row else None
        ours, theirs = self.mbps("transform", name), self.mbps(anchor, name)
        return ours / theirs if ours and theirs else None

    def geomean_over(self, anchor):
        names = [n for n in self.names if anchor != PURE_PYTHON
                 or (self.sizes.get(n) or 0) >= GEOMEAN_MIN_BYTES]
        return geomean([self.over(anchor, n) for n in names])

    def anchors(self):
        """The anchors this run has, as (key, name) pairs; pure Python last."""
        present = [(key, label) for key, label in ANCHORS
                   if any(self.mbps(key, n) for n in self.names)]
        if self.pythons and self.pythons[0].get("interpreter", "").startswith("PyPy"):
            present.append((PURE_PYTHON, PURE_PYTHON))
        return present


def cpp_lines(f):
    lines = []
    ctx = []
    if f.context.get("date"):
        ctx.append("run %s" % f.context["date"][:10])
    if f.context.get("num_cpus"):
        ctx.append("%d cores" % f.context["num_cpus"])
    lines.append("C++: " + ", ".join(ctx + ["medians of %d repetitions run in random order, MB/s of "
                                            "input from CPU time (1 MB = 10^6 bytes)" % f.context["repetitions"]])
                 + ".")
    lines.append("")
    rows = [[name, mb(f.sizes.get(name))] + [fmt(f.mbps(stage, name)) for stage in STAGES]
            for name in f.names]
    lines.extend(table(["payload", "size"] + STAGES, rows))
    anchors = [(k, label) for k, label in f.anchors() if k != PURE_PYTHON]
    if anchors:
        lines += ["", "Our transform over the anchors, in the same process on the same payloads:",
                  ""]
        header = (["payload", "transform"] + [label for _, label in anchors]
                  + ["ours / %s" % label.split()[0] for _, label in anchors])
        rows = [[name, fmt(f.mbps("transform", name))]
                + [fmt(f.mbps(k, name)) for k, _ in anchors]
                + [fmt(f.over(k, name), 2, "x") for k, _ in anchors] for name in f.names]
        rows.append(["**geometric mean**", ""] + [""] * len(anchors)
                    + ["**%s**" % fmt(f.geomean_over(k), 2, "x") for k, _ in anchors])
        lines.extend(table(header, rows))
        lines.append("")
    for key, label in anchors:
        labels = [f.runs.get((key, n), {}).get("label") for n in f.names]
        counts = ", ".join("%s on %d" % (kind, labels.count(kind))
                           for kind in sorted(set(labels) - {None}))
        least = min(((f.over(key, n), n) for n in f.names if f.over(key, n)), default=None)
        if least:
            lines.append("- %s: output checked before timing (%s); ours over it at least "
                         "%.2fx (%s)." % (label, counts, least[0], least[1]))
    for (stage, name), entry in f.runs.items():
        if "error" in entry:
            lines.append("- %s/%s did not run: %s" % (stage, name, entry["error"]))
    return lines


def plain_loop_lines(f):
    """Time and minor page faults per call in a plain loop: C++ (plain, interleaved), PyPy."""
    sources = []
    for plain in f.plains:
        kind = "C++ interleaved" if plain.get("interleave") else "C++"
        sources.append((kind, by_name(plain["payloads"]), "median_us", "faults_per_call"))
    for python in f.pythons[:1]:
        kind = python.get("interpreter", "Python").split(" ")[0]
        sources.append((kind, by_name(python["payloads"]), "module_us", "module_faults"))
        if any("probe_us" in r for r in python["payloads"]):
            sources.append((kind + " probe", by_name(python["payloads"]), "probe_us",
                            "probe_faults"))
        if python.get("cycled"):
            sources.append((kind + " cycled", by_name(python["cycled"]), "median_us",
                            "faults_per_call"))
        if python.get("cycled_floor"):
            sources.append((kind + " cycled probe", by_name(python["cycled_floor"]),
                            "median_us", "faults_per_call"))
    if not sources:
        return []
    lines = ["", "A plain loop of calls, each payload in a process of its own, each call on "
             "fresh bytes: median time of a call (us) and minor page faults per call "
             "(getrusage around each call). \"Interleaved\": a host's allocations between "
             "calls. \"Probe\": the same loop, each call only taking the payload and making "
             "a bytes object of our result's size (benchmarks/python/probe_module.cpp): the "
             "interpreter's own share. \"Cycled\": four payloads called in turn in one "
             "interpreter, each bytes "
             "object passed once before, so that the interpreter's copy is not counted. "
             "\"Cycled probe\": the same loop in another interpreter with the probe:", ""]
    header = ["payload", "size"]
    for kind, _, _, _ in sources:
        header += ["%s us" % kind, "%s faults" % kind]
    rows = []
    for name in f.names:
        row = [name, mb(f.sizes.get(name))]
        for _, rows_by_name, time_key, faults_key in sources:
            r = rows_by_name.get(name)
            present = r is not None and time_key in r
            row += [micros(r[time_key]), fmt(r[faults_key], 1)] if present else ["-", "-"]
        rows.append(row)
    lines += table(header, rows)
    for python in f.pythons[:1]:
        if python.get("cycled") and python.get("cycled_floor"):
            ours = sum(r["faults_per_call"] for r in python["cycled"])
            probe = sum(r["faults_per_call"] for r in python["cycled_floor"])
            lines += ["", "- cycled, minor page faults per round of the four calls: the "
                      "module **%.0f**, the probe **%.0f**" % (ours, probe)]
    return lines


def python_lines(f, python):
    """The lines of one interpreter's run of module_bench.py."""
    rows_by_name = by_name(python["payloads"])
    lines = ["", "From Python (%s), plain loop, a fresh bytes object per call; pure Python "
             "(tests/reference: json.loads, the derivation, compact json.dumps) timed after %d "
             "warm-up calls (fewer, bounded by time, from 1 MB):"
             % (python.get("interpreter", "?"), python.get("warmup_calls", 0)), ""]
    rows = []
    probed = any("probe_us" in r for r in python["payloads"])
    for name in f.names:
        r = rows_by_name.get(name)
        if r:
            probe = []
            if probed:
                share = r["probe_us"] / r["module_us"] if "probe_us" in r else None
                probe = [fmt(r.get("probe_us"), 1), "%.0f%%" % (100 * share) if share else "-"]
            rows.append([name, "%.1f" % r["module_mbps"], "%.1f" % r["python_mbps"],
                         "%.1fx" % r["ratio"]] + probe + [r["check"]])
    lines += table(["payload", "module MB/s", "pure Python MB/s", "module / pure Python"]
                   + (["probe us", "probe / module"] if probed else []) + ["check"], rows)
    lines.append("")
    if "geomean_ratio_40k" in python:
        lines.append("- module over pure Python, geometric mean over payloads of 40 KB and "
                     "more: **%.1fx**" % python["geomean_ratio_40k"])
    if "geomean_ceiling_40k" in python:
        lines.append("- the probe (`benchmarks/python/probe_module.cpp`: the call takes the "
                     "payload and returns a bytes object of our result's size, nothing between) "
                     "is the interpreter's own share of each call; pure Python over the probe, "
                     "the ratio a transform of no time would reach, geometric mean over the "
                     "same payloads: **%.1fx**" % python["geomean_ceiling_40k"])
    small = rows_by_name.get("gen_call_20")
    if small:
        probe = " (the probe %.1f us)" % small["probe_us"] if "probe_us" in small else ""
        lines.append("- the 20-row call (%s), call boundary included: module **%.1f us**%s, "
                     "pure Python %.1f us: **%.1fx**"
                     % (mb(small["bytes"]), small["module_us"], probe, small["python_us"],
                        small["ratio"]))
    if "threads" in python:
        t = python["threads"]
        lines.append("- two threads over one on %s: **%.2fx** throughput (%.3f s for two "
                     "calls on one thread, %.3f s on two)"
                     % (t["payload"], t["ratio"], t["one_thread_s"], t["two_threads_s"]))
    peaks = python.get("extra_peak_multiple", {})
    for name, multiple in peaks.items():
        lines.append("- extra peak memory of one call on %s (%s), in a fresh interpreter: "
                     "**%.2fx** the payload" % (name, mb(f.sizes.get(name)), multiple))
    return lines


def report(f):
    lines = cpp_lines(f) + plain_loop_lines(f)
    for python in f.pythons:
        lines += python_lines(f, python)
    return "\n".join(lines) + "\n"


def chart(f, path):
    """One panel per anchor, one bar per payload: our throughput over the anchor's, with the
    geometric mean as the last bar and parity marked."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    anchors = f.anchors()
    labels = f.names + ["geometric mean"]
    fig, axes = plt.subplots(1, len(anchors), sharey=True, squeeze=False,
                             figsize=(3.2 * len(anchors) + 2.2, 0.32 * len(labels) + 1.4))
    for ax, (key, title) in zip(axes[0], anchors):
        ratios = [f.over(key, n) for n in f.names] + [f.geomean_over(key)]
        ys = range(len(labels))
        colors = ["#2a9d8f" if (r or 0) >= 1 else "#e76f51" for r in ratios]
        colors[-1] = "#264653" if (ratios[-1] or 0) >= 1 else "#9d0208"
        ax.barh(ys, [r or 0 for r in ratios], color=colors, height=0.7)
        for y, r in zip(ys, ratios):
            ax.text((r or 0) + 0.03, y, fmt(r, 2, "x"), va="center", fontsize=7)
        ax.axvline(1.0, color="black", linewidth=0.8)
        ax.set_xlim(0, max([r or 0 for r in ratios] + [1.0]) * 1.3)
        ax.set_title("over " + title + ("\n(mean from 40 KB)" if key == PURE_PYTHON else ""),
                     fontsize=9)
        ax.tick_params(axis="x", labelsize=7)
        ax.grid(axis="x", alpha=0.3)
    axes[0][0].set_yticks(list(range(len(labels))))
    axes[0][0].set_yticklabels(labels, fontsize=8)
    axes[0][0].invert_yaxis()
    fig.suptitle("velmar_codec throughput over each anchor, per payload (above 1x: faster)",
                 fontsize=10)
    fig.tight_layout()
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    fig.savefig(path, dpi=110)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cpp", nargs="+", required=True, help="Google Benchmark JSON files")
    parser.add_argument("--plain", nargs="*", default=[],
                        help="JSON of velmar_plain_loop, plain and interleaved")
    parser.add_argument("--python", nargs="*", default=[],
                        help="JSON of benchmarks/python/module_bench.py, PyPy first")
    parser.add_argument("--chart", default=os.path.join(
        os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "docs", "performance.png"))
    args = parser.parse_args()

    runs, context = load_cpp(args.cpp)
    f = Figures(runs, context, load_json(args.plain), load_json(args.python))
    sys.stdout.write(report(f))
    chart(f, args.chart)
    print("\nChart: %s" % args.chart, file=sys.stderr)


if __name__ == "__main__":
    main()
