#!/usr/bin/env python3
"""Prints the benchmark table from the figures run.sh collected.

    table.py RESULTS_TSV SERVER [SERVER...]

Each line of RESULTS_TSV: row name, unit, kind ("rate": more is better,
"cost": less is better), server, value (or "n/a"), note. The first server
is ours; every other server gets a column "ours/theirs". A figure measured
in several rounds is shown as the median of its values.
"""

import statistics
import sys


def fmt(value, unit):
    if value is None:
        return "n/a"
    if unit == "ms":
        return f"{value:.3f}"
    if unit in ("MiB/s", "KiB/conn", "calls/req"):
        return f"{value:.1f}"
    return f"{value:.0f}"


def main():
    path, servers = sys.argv[1], sys.argv[2:]
    rows = {}
    order = []
    notes = []
    noted = set()
    with open(path) as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if len(parts) < 5:
                continue
            name, unit, kind, server, value = parts[:5]
            note = parts[5] if len(parts) > 5 else ""
            key = (name, unit, kind)
            if key not in rows:
                rows[key] = {}
                order.append(key)
            if value not in ("n/a", ""):
                rows[key].setdefault(server, []).append(float(value))
            # With several rounds a figure's note comes once, from its first round.
            if note and (server, name) not in noted:
                noted.add((server, name))
                notes.append(f"{server}, {name}: {note}")

    ours = servers[0]
    others = servers[1:]
    head = ["figure", "unit", "better"] + servers + [f"{ours}/{o}" for o in others]
    body = []
    for key in order:
        name, unit, kind = key
        values = {s: statistics.median(v) for s, v in rows[key].items()}
        line = [name, unit, "higher" if kind == "rate" else "lower"]
        line += [fmt(values.get(s), unit) for s in servers]
        for o in others:
            a, b = values.get(ours), values.get(o)
            line.append("n/a" if a is None or b is None or b == 0 else f"{a / b:.2f}")
        body.append(line)

    widths = [max(len(r[i]) for r in [head] + body) for i in range(len(head))]
    def out(r):
        cells = [r[0].ljust(widths[0]), r[1].ljust(widths[1]), r[2].ljust(widths[2])]
        cells += [c.rjust(w) for c, w in zip(r[3:], widths[3:])]
        print("| " + " | ".join(cells) + " |")
    print(f"Ratio columns are {ours} / other server, from this run: for rows marked")
    print("'higher' (requests/s, MiB/s) a ratio above 1 means ours is better; for rows")
    print("marked 'lower' (latencies, memory, system calls) a ratio below 1 means")
    print("ours is better.")
    print()
    out(head)
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in body:
        out(r)
    if notes:
        print()
        print("Notes:")
        for n in notes:
            print("  " + n)


if __name__ == "__main__":
    main()
