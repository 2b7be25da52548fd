#!/usr/bin/python3
"""Table and plot from the JSON output of vimor_bench.

    python3 bench/report.py results.json [plot.svg [search.svg]]

Prints Markdown tables of the medians (of the repetitions, when there are
any), writes ns per observation against N as an SVG plot, and the default
search's cost per evaluation over one objective evaluation as a second one.
Standard library only.
"""
import json
import math
import sys


def rows(path):
    with open(path) as f:
        data = json.load(f)
    runs = data["benchmarks"]
    medians = [r for r in runs if r.get("aggregate_name") == "median"]
    chosen = medians or [r for r in runs if r.get("run_type", "iteration") == "iteration"]
    return data.get("context", {}), chosen


def args(name):
    """'BM_Objective/N:1000/K:2/manual_time_median' -> {'N': 1000, 'K': 2}."""
    out = {}
    for part in name.split("/")[1:]:
        if ":" in part:
            key, value = part.split(":", 1)
            out[key] = int(value)
    return out


DATA_NAMES = {0: ("Mroz, default model", 753, 8), 1: ("simulated", 20000, 6)}


def table(objective, kernels, search, default_search=()):
    lines = []
    if objective:
        lines += [
            "| N | K | kernel | ns/obs | plain ns/obs | add chain | stream | ratio to limit | plain ratio | speed-up |",
            "|--:|--:|:--|--:|--:|--:|--:|--:|--:|--:|",
        ]
    for r in objective:
        a = args(r["name"])
        lines.append(
            "| {N:,} | {K} | {label} | {ns_obs:.3f} | {plain_ns_obs:.3f} | {chain_ns_obs:.3f} | "
            "{stream_ns_obs:.3f} | {ratio:.2f} | {plain_ratio:.2f} | {speedup:.2f} |".format(
                N=a["N"], K=a["K"], **dict(r, label=r.get("label", ""))))
    if kernels:
        lines += ["", "| N | K | kernel | ns/obs | add chain | stream | ratio to limit | speed-up over plain |",
                  "|--:|--:|:--|--:|--:|--:|--:|--:|"]
        for r in kernels:
            a = args(r["name"])
            if "ns_obs" in r:
                lines.append("| {N:,} | {K} | {label} | {ns_obs:.3f} | {chain_ns_obs:.3f} | {stream_ns_obs:.3f} | "
                             "{ratio:.2f} | {speedup:.2f} |".format(
                                 N=a["N"], K=a["K"], **dict(r, label=r.get("label", ""))))
    if search:
        lines += ["", "| N | K | evaluations | kernel | search ns/eval | objective ns/eval | ratio |",
                  "|--:|--:|--:|:--|--:|--:|--:|"]
        for r in search:
            a = args(r["name"])
            lines.append("| {N:,} | {K} | {E:,} | {label} | {ns_eval:.0f} | {objective_ns_eval:.0f} | "
                         "{ratio:.3f} |".format(N=a["N"], K=a["K"], E=a["evals"],
                                                **dict(r, label=r.get("label", ""))))
    if default_search:
        lines += ["", "| data | N | K | evaluations | kernels (several-point/objective) | search ns/eval | "
                  "one point at a time ns/eval | objective ns/eval | ratio | one point at a time ratio | "
                  "pass ÷ evaluation |",
                  "|:--|--:|--:|--:|:--|--:|--:|--:|--:|--:|--:|"]
        for r in default_search:
            data, n, k = DATA_NAMES[args(r["name"])["data"]]
            lines.append("| {data} | {n:,} | {k} | {evals:,.0f} | {kernels} | {ns_eval:.0f} | {plain_ns_eval:.0f} | "
                         "{objective_ns_eval:.0f} | {ratio:.3f} | {plain_ratio:.3f} | {pass_evals:.2f} |".format(
                             data=data, n=n, k=k, kernels=r.get("label", "").split(" ")[-1],
                             **dict({"pass_evals": float("nan")},
                                    **{key: value for key, value in r.items() if key != "name"})))
    return "\n".join(lines).strip("\n")


def svg_plot(objective, path):
    """One panel per K: ns per observation against N, both axes logarithmic."""
    ks = sorted({args(r["name"])["K"] for r in objective})
    series = [("plain_ns_obs", "plain kernel", "#d62728", ""),
              ("ns_obs", "dispatched kernel", "#1f77b4", ""),
              ("chain_ns_obs", "add-chain limit", "#555555", "6,4"),
              ("stream_ns_obs", "streaming limit", "#2ca02c", "2,3")]
    values = [r[key] for r in objective for key, *_ in series]
    ymin = 10 ** math.floor(math.log10(min(values)))
    ymax = 10 ** math.ceil(math.log10(max(values)))
    ns = sorted({args(r["name"])["N"] for r in objective})
    xmin, xmax = math.log10(ns[0]), math.log10(ns[-1])
    pw, ph, left, top, gap = 260, 220, 60, 40, 30
    width = left + len(ks) * (pw + gap) + 150
    height = top + ph + 60
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
           'font-family="sans-serif" font-size="12">' % (width, height),
           '<rect width="100%" height="100%" fill="white"/>']

    def x_of(panel, n):
        return left + panel * (pw + gap) + (math.log10(n) - xmin) / (xmax - xmin) * pw

    def y_of(v):
        return top + ph - (math.log10(v) - math.log10(ymin)) / (math.log10(ymax) - math.log10(ymin)) * ph

    for p, k in enumerate(ks):
        x0 = left + p * (pw + gap)
        out.append('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="black"/>'
                   % (x0, top, pw, ph))
        out.append('<text x="%d" y="%d" text-anchor="middle">K = %d</text>' % (x0 + pw / 2, top - 10, k))
        for n in ns:
            out.append('<text x="%.1f" y="%d" text-anchor="middle">1e%d</text>'
                       % (x_of(p, n), top + ph + 16, round(math.log10(n))))
        decade = ymin
        while decade <= ymax * 1.0001:
            y = y_of(decade)
            out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#dddddd"/>'
                       % (x0, x0 + pw, y, y))
            if p == 0:
                out.append('<text x="%d" y="%.1f" text-anchor="end">%g</text>' % (x0 - 5, y + 4, decade))
            decade *= 10
        rs = sorted((r for r in objective if args(r["name"])["K"] == k), key=lambda r: args(r["name"])["N"])
        for key, _, colour, dash in series:
            pts = " ".join("%.1f,%.1f" % (x_of(p, args(r["name"])["N"]), y_of(r[key])) for r in rs)
            out.append('<polyline points="%s" fill="none" stroke="%s" stroke-width="2"%s/>'
                       % (pts, colour, ' stroke-dasharray="%s"' % dash if dash else ""))
    out.append('<text x="%d" y="%d" text-anchor="middle">N (observations)</text>'
               % (left + len(ks) * (pw + gap) / 2, height - 12))
    out.append('<text transform="translate(16,%d) rotate(-90)" text-anchor="middle">ns per observation</text>'
               % (top + ph / 2))
    lx = left + len(ks) * (pw + gap)
    for i, (_, label, colour, dash) in enumerate(series):
        y = top + 20 + 20 * i
        out.append('<line x1="%d" x2="%d" y1="%d" y2="%d" stroke="%s" stroke-width="2"%s/>'
                   % (lx, lx + 25, y, y, colour, ' stroke-dasharray="%s"' % dash if dash else ""))
        out.append('<text x="%d" y="%d">%s</text>' % (lx + 30, y + 4, label))
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def ratio_bars(default_search, x0, top, pw, ph):
    """A complete default search's cost per evaluation over one objective
    evaluation: with the several-point kernel and one point at a time, per
    data set, against the target of two thirds."""
    out = ['<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="black"/>' % (x0, top, pw, ph),
           '<text x="%d" y="%d" text-anchor="middle">default search per evaluation</text>'
           % (x0 + pw / 2, top - 10)]
    ymax = 1.25

    def y_of(v):
        return top + ph - v / ymax * ph

    for v in (0.25, 0.5, 0.75, 1.0):
        out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#dddddd"/>' % (x0, x0 + pw, y_of(v), y_of(v)))
        out.append('<text x="%d" y="%.1f" text-anchor="end">%g</text>' % (x0 - 5, y_of(v) + 4, v))
    out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#555555" stroke-dasharray="6,4"/>'
               % (x0, x0 + pw, y_of(2 / 3), y_of(2 / 3)))
    out.append('<text x="%d" y="%.1f" text-anchor="end" fill="#555555">target 2/3</text>'
               % (x0 + pw - 4, y_of(2 / 3) - 4))
    slot = pw / max(1, len(default_search))
    for i, r in enumerate(default_search):
        name = DATA_NAMES[args(r["name"])["data"]][0].split(",")[0]
        cx = x0 + slot * i + slot / 2
        for dx, key, colour in ((-22, "plain_ratio", "#d62728"), (2, "ratio", "#1f77b4")):
            v = min(r[key], ymax)
            out.append('<rect x="%.1f" y="%.1f" width="20" height="%.1f" fill="%s"/>'
                       % (cx + dx, y_of(v), top + ph - y_of(v), colour))
            out.append('<text x="%.1f" y="%.1f" text-anchor="middle" font-size="10">%.2f</text>'
                       % (cx + dx + 10, y_of(v) - 3, r[key]))
        out.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (cx, top + ph + 16, name))
    ly = top + ph + 34
    for i, (label, colour) in enumerate((("one point at a time", "#d62728"), ("several-point kernel", "#1f77b4"))):
        out.append('<rect x="%d" y="%d" width="12" height="12" fill="%s"/>' % (x0 + 125 * i, ly - 10, colour))
        out.append('<text x="%d" y="%d" font-size="11">%s</text>' % (x0 + 125 * i + 16, ly, label))
    return out


def search_plot(default_search, path):
    width, height = 340, 330
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
           'font-family="sans-serif" font-size="12">' % (width, height),
           '<rect width="100%" height="100%" fill="white"/>']
    out += ratio_bars(default_search, 60, 40, 240, 220)
    out.append('<text transform="translate(16,150) rotate(-90)" text-anchor="middle">'
               'search ÷ objective, per evaluation</text>')
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def main():
    if len(sys.argv) not in (2, 3, 4):
        sys.exit("usage: report.py results.json [plot.svg [search.svg]]")
    context, chosen = rows(sys.argv[1])
    objective = [r for r in chosen if r["name"].startswith("BM_Objective/")]
    search = [r for r in chosen if r["name"].startswith("BM_Search/")]
    kernels = [r for r in chosen if r["name"].startswith("BM_Kernel/")]
    default_search = [r for r in chosen if r["name"].startswith("BM_DefaultSearch/")]
    print(table(objective, kernels, search, default_search))
    if len(sys.argv) >= 3 and objective:
        svg_plot(objective, sys.argv[2])
    if len(sys.argv) == 4 and default_search:
        search_plot(default_search, sys.argv[3])


if __name__ == "__main__":
    main()
