"""A strict reader of Prometheus' text exposition format (version 0.0.4), enough to check
the textfiles the programs write for node_exporter: every line is a HELP, a TYPE or a
sample; names and label names are valid; label values are escaped; a metric's HELP and
TYPE come once, before its samples, and its samples stay together; no series repeats;
values are numbers; the text ends with a line feed."""
import re

NAME = r"[a-zA-Z_:][a-zA-Z0-9_:]*"
LABEL = r"[a-zA-Z_][a-zA-Z0-9_]*"
VALUE = r'"(?:[^"\\\n]|\\[\\"n])*"'
SAMPLE = re.compile(rf"^({NAME})(?:\{{((?:{LABEL}={VALUE})(?:,{LABEL}={VALUE})*)?\}})? (\S+)$")
PAIR = re.compile(rf"({LABEL})=({VALUE})")
TYPES = {"counter", "gauge", "histogram", "summary", "untyped"}


def parse(text):
    """{name: {frozenset(labels.items()): value}}; raises ValueError on the first fault."""
    if text and not text.endswith("\n"):
        raise ValueError("the text does not end with a line feed")
    metrics, typed, helped, done, current = {}, set(), set(), set(), None
    for n, line in enumerate(text.splitlines(), 1):
        where = f"line {n}: {line!r}"
        if line.startswith("# HELP ") or line.startswith("# TYPE "):
            kind, rest = line[2:6], line[7:]
            name, _, arg = rest.partition(" ")
            if not re.fullmatch(NAME, name):
                raise ValueError(f"{where}: bad metric name")
            seen = helped if kind == "HELP" else typed
            if name in seen or name in metrics:
                raise ValueError(f"{where}: {kind} repeated or after the samples")
            if kind == "TYPE" and arg not in TYPES:
                raise ValueError(f"{where}: unknown type")
            seen.add(name)
            continue
        if line.startswith("#") or not line.strip():
            continue
        m = SAMPLE.match(line)
        if not m:
            raise ValueError(f"{where}: not a sample")
        name, labels, value = m.groups()
        if name != current:
            if name in done:
                raise ValueError(f"{where}: samples of {name} are not together")
            if current:
                done.add(current)
            current = name
        pairs = {k: v[1:-1].replace('\\"', '"').replace("\\n", "\n").replace("\\\\", "\\")
                 for k, v in PAIR.findall(labels or "")}
        key = frozenset(pairs.items())
        series = metrics.setdefault(name, {})
        if key in series:
            raise ValueError(f"{where}: series repeated")
        if value not in ("NaN", "+Inf", "-Inf"):
            float(value)
        series[key] = float(value)
    return metrics


def value(metrics, name, **labels):
    return metrics[name][frozenset(labels.items())]
