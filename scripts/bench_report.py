#!/usr/bin/python3
"""Turns one benchmark run into a Markdown report on stdout and a chart.

Reads the JSON of the C++ benchmarks (--benchmark_format=json or --benchmark_out, with
repetitions and aggregates: the medians are used) and, optionally, the JSON that
benchmarks/python/module_bench.py --json writes. Writes docs/performance.png (or --chart):
throughput per payload of the transform in C++, from Python, of the RapidJSON columnarizer
and of the pure-Python transform. Needs matplotlib (Debian: python3-matplotlib).

    scripts/bench_report.py --cpp read.json derive.json write.json transform.json \\
        --python pypy.json --chart docs/performance.png
"""

import argparse
import json
import math
import os
import sys

STAGES = ["read", "derive", "write", "transform"]


def load_cpp(paths):
    """{(stage, payload): {"mbps", "faults", "label", "error"}} from the median aggregates
    (or the single runs, when the file has no aggregates), and the context of the first."""
    runs = {}
    context = None
    context_repetitions = [1]
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        context = context or data.get("context", {})
        for b in data.get("benchmarks", []):
            name = b.get("run_name", b["name"])
            if "/" not in name:
                continue  # the writer's micro benchmarks
            stage, payload = name.split("/", 1)
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            entry = runs.setdefault((stage, payload), {})
            if b.get("error_occurred"):
                entry["error"] = b.get("error_message", "error")
                continue
            if "bytes_per_second" in b:
                entry["mbps"] = b["bytes_per_second"] / 1e6
            if "faults" in b:
                entry["faults"] = b["faults"]
            if "bytes" in b:
                entry["bytes"] = int(b["bytes"])
            if b.get("label"):
                entry["label"] = b["label"]
            if b.get("run_type") == "aggregate":
                context_repetitions[0] = b.get("repetitions", context_repetitions[0])
    context = dict(context or {})
    context["repetitions"] = context_repetitions[0]
    return runs, context


def payload_order(runs, python):
    names = []
    for stage, payload in runs:
        if payload not in names:
            names.append(payload)
    for row in (python or {}).get("payloads", []):
        if row["name"] not in names:
            names.append(row["name"])
    return names


def geomean(values):
    values = [v for v in values if v and v > 0]
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else None


def fmt(value, digits=0):
    if value is None:
        return "-"
    return "%.*f" % (digits, value)


def mb(n):
    return "%.1f MB" % (n / 1e6) if n >= 1e6 else "%.0f KB" % (n / 1e3) if n >= 1e3 else "%d B" % n


def report(runs, context, pythons, sizes):
    names = payload_order(runs, pythons[0] if pythons else None)
    get = lambda stage, name, key: runs.get((stage, name), {}).get(key)
    lines = []
    ctx = []
    if context.get("date"):
        ctx.append("run %s" % context["date"][:10])
    if context.get("num_cpus"):
        ctx.append("%d cores" % context["num_cpus"])
    if context.get("library_build_type"):
        ctx.append("Google Benchmark library built as %s" % context["library_build_type"])
    if ctx:
        lines.append("C++: " + ", ".join(ctx) + "; medians of %d repetitions, MB/s of input "
                     "from CPU time (1 MB = 10^6 bytes)." % context["repetitions"])
        lines.append("")

    lines.append("| payload | size | read | derive | write | transform | RapidJSON | "
                 "ours / RapidJSON |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|---:|")
    ratios = []
    for name in names:
        ours = get("transform", name, "mbps")
        theirs = get("rapidjson", name, "mbps")
        ratio = ours / theirs if ours and theirs else None
        if ratio:
            ratios.append(ratio)
        size = sizes.get(name)
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
            name, mb(size) if size else "-", fmt(get("read", name, "mbps")),
            fmt(get("derive", name, "mbps")), fmt(get("write", name, "mbps")), fmt(ours),
            fmt(theirs), fmt(ratio, 2) + ("x" if ratio else "")))
    if ratios:
        lines.append("")
        lines.append("Ours over RapidJSON, geometric mean over %d payloads: **%.2fx**."
                     % (len(ratios), geomean(ratios)))
    labels = sorted({get("rapidjson", n, "label") for n in names} - {None})
    if labels:
        lines.append("RapidJSON's results were checked against ours: %s." % ", ".join(
            "%s on %d payloads" % (label, sum(get("rapidjson", n, "label") == label
                                              for n in names)) for label in labels))
    errors = [(stage, name, e["error"]) for (stage, name), e in runs.items() if "error" in e]
    for stage, name, error in errors:
        lines.append("- %s/%s did not run: %s" % (stage, name, error))

    lines.append("")
    lines.append("Page faults per call (minor faults over the timed loop / iterations):")
    lines.append("")
    lines.append("| payload | read | derive | write | transform | RapidJSON |")
    lines.append("|---|---:|---:|---:|---:|---:|")
    for name in names:
        lines.append("| %s | %s |" % (name, " | ".join(
            fmt(get(stage, name, "faults"), 1) for stage in STAGES + ["rapidjson"])))

    for python in pythons:
        lines.extend(python_report(names, python))
    return "\n".join(lines) + "\n"


def python_report(names, python):
    """The lines of one interpreter's run of module_bench.py."""
    py = {r["name"]: r for r in python.get("payloads", [])}
    lines = []
    lines.append("")
    lines.append("From Python (%s), median call time, a fresh bytes object per call:"
                 % python.get("interpreter", "?"))
    lines.append("")
    lines.append("| payload | module MB/s | pure Python MB/s | module / pure Python | "
                 "extra peak memory (x payload) |")
    lines.append("|---|---:|---:|---:|---:|")
    for name in names:
        r = py.get(name)
        if r:
            lines.append("| %s | %.1f | %.1f | %.1fx | %.2f |" % (
                name, r["module_mbps"], r["python_mbps"], r["ratio"],
                r["extra_peak_multiple"]))
    lines.append("")
    if "geomean_ratio_40k" in python:
        lines.append("- module over pure Python, geometric mean over payloads of 40 KB "
                     "and more: **%.1fx**" % python["geomean_ratio_40k"])
    if "call_20_us" in python:
        lines.append("- one 20-row call (3 KB), call boundary included: **%.1f us** "
                     "(median)" % python["call_20_us"])
    if "threads" in python:
        t = python["threads"]
        lines.append("- two threads over one on %s: **%.2fx** throughput (%.3f s for two "
                     "calls on one thread, %.3f s on two)"
                     % (t["payload"], t["ratio"], t["one_thread_s"], t["two_threads_s"]))
    if "extra_peak_median_1mb" in python:
        lines.append("- extra peak memory of one call, payloads of 1 MB and more: median "
                     "**%.2fx** the payload, at most %.2fx"
                     % (python["extra_peak_median_1mb"], python["extra_peak_max_1mb"]))
    return lines


def chart(runs, pythons, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    names = payload_order(runs, pythons[0] if pythons else None)
    series = [
        ("velmar_codec, C++ transform", "#1f77b4",
         [runs.get(("transform", n), {}).get("mbps") for n in names]),
        ("RapidJSON DOM columnarizer, C++", "#ff7f0e",
         [runs.get(("rapidjson", n), {}).get("mbps") for n in names]),
    ]
    shades = [("#6baed6", "#2ca02c"), ("#9467bd", "#98df8a")]
    for python, (module_color, pure_color) in zip(pythons, shades):
        py = {r["name"]: r for r in python.get("payloads", [])}
        interpreter = python.get("interpreter", "Python").split(" (")[0]
        series.append(("velmar_codec from %s" % interpreter, module_color,
                       [py.get(n, {}).get("module_mbps") for n in names]))
        series.append(("pure Python on %s (json + derivation)" % interpreter, pure_color,
                       [py.get(n, {}).get("python_mbps") for n in names]))
    series = [s for s in series if any(v for v in s[2])]
    height = 0.8 / max(len(series), 1)
    fig, ax = plt.subplots(figsize=(10, 0.5 + 0.55 * len(names) * max(len(series), 1) / 2))
    for k, (label, color, values) in enumerate(series):
        ys = [i + k * height for i in range(len(names))]
        ax.barh(ys, [v or 0 for v in values], height=height, label=label, color=color)
    ax.set_yticks([i + height * (len(series) - 1) / 2 for i in range(len(names))])
    ax.set_yticklabels(names)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.set_xlabel("MB/s of input (log scale; higher is better)")
    ax.set_title("Columnarize throughput per payload")
    ax.grid(axis="x", which="both", alpha=0.3)
    fig.legend(loc="lower center", ncol=2, fontsize=8, frameon=False)
    fig.tight_layout(rect=(0, 0.5 / fig.get_figheight(), 1, 1))
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    fig.savefig(path, dpi=110)


def payload_sizes(runs, pythons):
    sizes = {r["name"]: r["bytes"] for python in pythons for r in python.get("payloads", [])}
    for (stage, name), entry in runs.items():
        if "bytes" in entry:
            sizes[name] = entry["bytes"]
    return sizes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cpp", nargs="+", required=True, help="Google Benchmark JSON files")
    parser.add_argument("--python", nargs="*", default=[],
                        help="JSON of benchmarks/python/module_bench.py, one per interpreter")
    parser.add_argument("--chart", default=os.path.join(
        os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "docs", "performance.png"))
    args = parser.parse_args()

    runs, context = load_cpp(args.cpp)
    pythons = []
    for path in args.python:
        with open(path) as f:
            pythons.append(json.load(f))
    sizes = payload_sizes(runs, pythons)
    sys.stdout.write(report(runs, context, pythons, sizes))
    chart(runs, pythons, args.chart)
    print("\nChart: %s" % args.chart, file=sys.stderr)


if __name__ == "__main__":
    main()
