#!/usr/bin/env python3
"""The machine-readable results of mdbscout and mdbcompact: every --json document
validates against the installed schema and holds the figures of its run; the metrics
textfiles follow the text exposition format (prom_text.py, and promtool when it is
installed), hold the same figures, and are replaced whole; the Grafana dashboard is JSON
and asks only for metrics the programs write.
   machine_results_test.py DIST_DIR SCHEMA CORPUS_DIR DASHBOARD"""
import json
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

import jsonschema

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import prom_text  # noqa: E402

dist, schema_path, corpus, dashboard = sys.argv[1:5]
written = set()  # names of the metrics in the textfiles
with open(schema_path, encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
failures = []


def run(args, expect_code):
    p = subprocess.run(args, capture_output=True)
    if p.returncode != expect_code:
        failures.append(f"{args}: exit {p.returncode}, expected {expect_code}: {p.stderr!r}")
    lines = p.stdout.decode("utf-8").splitlines()
    if len(lines) != 1:
        failures.append(f"{args}: {len(lines)} lines on stdout, expected one document")
        return {}
    doc = json.loads(lines[0])
    for error in validator.iter_errors(doc):
        failures.append(f"{args}: {error.message} at {list(error.absolute_path)}")
    return doc


def metrics(name):
    path = os.path.join(work, "metrics", name)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if shutil.which("promtool"):
        p = subprocess.run(["promtool", "check", "metrics"], input=text.encode(),
                           capture_output=True)
        if p.returncode != 0:
            failures.append(f"promtool on {name}: {p.stdout + p.stderr!r}")
    try:
        parsed = prom_text.parse(text)
        written.update(parsed)
        return parsed
    except ValueError as e:
        failures.append(f"{name}: {e}")
        return {}


def expect(what, got, want):
    if got != want:
        failures.append(f"{what}: {got!r}, expected {want!r}")


work = tempfile.mkdtemp(prefix="json-results-")
try:
    prog = os.path.join(work, "prog")
    site = os.path.join(work, "站点")  # a UTF-8 path
    os.makedirs(os.path.join(prog, "config"))
    os.makedirs(site)
    for name in ("mdbscout", "mdbcompact"):
        shutil.copy(os.path.join(dist, name), prog)
    shutil.copy(os.path.join(corpus, "jet4", "testV2000.mdb"), os.path.join(site, "a.mdb"))
    shutil.copy(os.path.join(corpus, "jet3", "testV1997.mdb"), os.path.join(site, "b.mdb"))
    with open(os.path.join(site, "c.mdb"), "wb") as f:
        f.write(b"\0" * 70000)  # not a database: never recorded, refused by name
    with open(os.path.join(prog, "config", "ScanDir.txt"), "w", encoding="utf-8") as f:
        f.write(site + "\r\n")
    os.makedirs(os.path.join(work, "metrics"))
    settings = os.path.join(prog, "mdbscout.ini")
    with open(settings, "w", encoding="utf-8") as f:
        f.write(f"[mdbscout]\nMetricsDir={work}/metrics\n")
    mdbcompact = os.path.join(prog, "mdbcompact")
    a, c = os.path.join(site, "a.mdb"), os.path.join(site, "c.mdb")

    scan = run([os.path.join(prog, "mdbscout"), "/FileScan", "--json"], 0)
    expect("scan databases_found", scan.get("databases_found"), 2)
    expect("scan directories", scan.get("directories"), [site])
    m = metrics("mdbscout.prom")
    expect("scan metrics", (prom_text.value(m, "mdbwarden_scan_databases_found"),
                            prom_text.value(m, "mdbwarden_scan_exit_code")), (2, 0))
    expect("scan last success", prom_text.value(
        m, "mdbwarden_scan_last_success_timestamp_seconds") > 0, True)

    info = run([mdbcompact, "info", "--json", a], 0)
    expect("info file size", info.get("file_size_bytes"), os.path.getsize(a))
    expect("info reclaimable",
           info.get("reclaimable_bytes"), info["file_size_bytes"] - info["estimated_size_bytes"])
    expect("info of a non-database", run([mdbcompact, "info", "--json", c], 2).get("opened"), False)
    expect("check", run([mdbcompact, "check", "--json", a], 0).get("sound"), True)
    expect("check of a non-database",
           run([mdbcompact, "check", "--json", c], 2)["reason"]["code"], "damaged")

    repaired = run([mdbcompact, "repair", "--json", a, os.path.join(work, "repaired.mdb")], 0)
    expect("repair verdict", repaired.get("verdict"), "lossless")
    expect("repair of a non-database",
           run([mdbcompact, "repair", "--json", c, os.path.join(work, "none.mdb")], 2)
           .get("repaired"), False)

    store = ["--store", os.path.join(prog, "config", "FileInfo.dat"),
             "--backup-root", os.path.join(work, "backup")]
    dry = run([mdbcompact, "batch", "--dry-run", "--json", "--all"] + store, 0)
    expect("dry run outcomes", sorted(f["outcome"] for f in dry["files"]), ["estimated"] * 2)
    m = metrics("mdbcompact-estimate.prom")
    for f in dry["files"]:
        labels = {"path": f["path"], "site": site}
        expect(f"estimate of {f['path']}",
               (prom_text.value(m, "mdbwarden_database_size_bytes", **labels),
                prom_text.value(m, "mdbwarden_database_reclaimable_bytes", **labels)),
               (f["size_before_bytes"],
                f["size_before_bytes"] - f["estimated_size_after_bytes"]))
    small = run([mdbcompact, "batch", "--dry-run", "--json", "--all", "--min-saving", "100%"]
                + store, 0)
    expect("dry run below the minimum",
           [f["reason"]["code"] for f in small["files"]], ["below_minimum_saving"] * 2)
    size_a = os.path.getsize(a)
    batch = run([mdbcompact, "batch", "--json", "--no-web-server", "--keep-backups", "30",
                 a, c] + store, 1)
    by_path = {f["path"]: f for f in batch.get("files", [])}
    expect("batch a", (by_path[a]["outcome"], by_path[a]["size_before_bytes"],
                       by_path[a]["size_after_bytes"]),
           ("compacted", size_a, os.path.getsize(a)))
    expect("batch c", by_path[c]["outcome"], "not_compacted")
    expect("batch totals", batch["totals"]["compacted"], 1)
    expect("batch retention ran", batch["backup_runs_pruned"], 0)
    expect("batch web server", batch["web_server"]["controlled"], False)
    m = metrics("mdbcompact-batch.prom")
    expect("batch metrics", (prom_text.value(m, "mdbwarden_batch_files", outcome="compacted"),
                             prom_text.value(m, "mdbwarden_batch_files", outcome="not_compacted"),
                             prom_text.value(m, "mdbwarden_batch_exit_code"),
                             prom_text.value(m, "mdbwarden_batch_file_after_bytes",
                                             path=a, site=site),
                             prom_text.value(m, "mdbwarden_batch_last_success_timestamp_seconds")),
           (1, 1, 1, os.path.getsize(a), 0))
    # The next run replaces the file whole: a reader of the old one reads it to its end.
    with open(os.path.join(work, "metrics", "mdbcompact-batch.prom"), encoding="utf-8") as old:
        first = old.read(10)
        with open(settings, "a", encoding="utf-8") as f:
            f.write("MetricsPerSite=1\n")
        run([mdbcompact, "batch", "--json", "--no-web-server", a] + store, 0)
        expect("old textfile read whole", prom_text.parse(first + old.read()) != {}, True)
    m = metrics("mdbcompact-batch.prom")
    # The web-server units of the settings, through the real control program and a fake
    # systemctl: stopped in their order, started in the reverse one, reported.
    shutil.copy(os.path.join(dist, "mdbscout_iisreset"), prog)
    with open(os.path.join(prog, "mdbscout_iisreset"), "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with open(os.path.join(prog, "mdbwarden.sha256"), "w") as f:
        f.write(f"{digest}  mdbscout_iisreset\n")
    units = os.path.join(work, "units")
    os.makedirs(os.path.join(work, "bin"))
    os.makedirs(units)
    for unit in ("nginx.service", "php8.2-fpm.service"):
        open(os.path.join(units, unit), "w").close()
    with open(os.path.join(work, "bin", "systemctl"), "w") as f:
        f.write(f"""#!/bin/sh
case "$1" in
  list-units) exit 0 ;;
  is-active) [ -e "{units}/$3" ] ;;
  stop) rm -f "{units}/$2" ;;
  start) touch "{units}/$2" ;;
esac
""")
    os.chmod(os.path.join(work, "bin", "systemctl"), 0o755)
    with open(settings, "a", encoding="utf-8") as f:
        f.write("WebServerUnits=nginx php8.2-fpm\n")
    os.environ["PATH"] = os.path.join(work, "bin") + ":" + os.environ["PATH"]
    web = run([mdbcompact, "batch", "--json", a] + store, 0).get("web_server", {})
    expect("units stopped and started", (web.get("controlled"), web.get("units_stopped"),
                                         web.get("units_started")),
           (True, ["nginx", "php8.2-fpm"], ["php8.2-fpm", "nginx"]))
    with open(os.path.join(prog, "__mdbscout.log"), encoding="utf-8", errors="replace") as f:
        expect("units in the run log",
               "web server units started: php8.2-fpm nginx" in f.read(), True)
    expect("per-site metrics", (prom_text.value(m, "mdbwarden_batch_file_before_bytes_files",
                                                site=site),
                                "mdbwarden_batch_file_after_bytes" in m,
                                any("path" in dict(k) for k in m["mdbwarden_batch_file_after_bytes"]),
                                prom_text.value(m, "mdbwarden_batch_last_success_timestamp_seconds")
                                > 0), (1, True, False, True))
    expect("no temporary files left", sorted(os.listdir(os.path.join(work, "metrics"))),
           ["mdbcompact-batch.prom", "mdbcompact-estimate.prom", "mdbscout.prom"])
    # A batch that cannot start (no store in that program directory): the JSON says why,
    # the metrics give its exit code and keep no last success.
    other = os.path.join(work, "other")
    os.makedirs(os.path.join(other, "config"))
    os.makedirs(os.path.join(other, "metrics"))
    with open(os.path.join(other, "mdbscout.ini"), "w", encoding="utf-8") as f:
        f.write(f"[mdbscout]\nMetricsDir={other}/metrics\n")
    refused = run([mdbcompact, "batch", "--json", "--all", "--store",
                   os.path.join(other, "config", "FileInfo.dat")], 2)
    expect("batch without a store", "error" in refused, True)
    with open(os.path.join(other, "metrics", "mdbcompact-batch.prom"), encoding="utf-8") as f:
        m = prom_text.parse(f.read())
    expect("metrics of a batch that could not start",
           (prom_text.value(m, "mdbwarden_batch_exit_code"),
            prom_text.value(m, "mdbwarden_batch_last_success_timestamp_seconds")), (2, 0))

    os.remove(a)
    status = run([mdbcompact, "status", "--json", "--store", store[1]], 0)
    expect("status", sorted((os.path.basename(f["path"]), f["exists"], f["state"])
                            for f in status.get("files", [])),
           [("a.mdb", False, "compacted"), ("b.mdb", True, "found"),
            ("c.mdb", True, "not_compacted")])
    forget = run([mdbcompact, "forget", "--missing", "--json", "--store", store[1]], 0)
    expect("forget", forget.get("forgotten"), [a])
    # A listed directory that cannot be read: the quiet scan fails with 1 (not the window's
    # 0-is-failure), says why on standard error only and does not count down.
    with open(os.path.join(prog, "config", "ScanDir.txt"), "w", encoding="utf-8") as f:
        f.write(site + "\r\n" + os.path.join(work, "gone") + "\r\n")
    quiet = subprocess.run([os.path.join(prog, "mdbscout"), "/FileScan", "--quiet"],
                           capture_output=True, timeout=20)
    expect("quiet scan with a directory unread",
           (quiet.returncode, quiet.stdout, os.path.join(work, "gone") in quiet.stderr.decode()),
           (1, b"", True))
    expect("its JSON", run([os.path.join(prog, "mdbscout"), "/FileScan", "--json"], 1)
           .get("directories_failed"), 1)
    # The per-site mode's estimates too (MetricsPerSite is set since the batch above).
    run([mdbcompact, "batch", "--dry-run", "--json", "--all"] + store, 0)
    metrics("mdbcompact-estimate.prom")
finally:
    shutil.rmtree(work)

with open(dashboard, encoding="utf-8") as f:
    board = json.load(f)
asked = {name for panel in board["panels"] for target in panel["targets"]
         for name in re.findall(r"mdbwarden_[a-z_]+", target["expr"])}
for query in board["templating"]["list"]:
    asked.update(re.findall(r"mdbwarden_[a-z_]+", json.dumps(query.get("query", ""))))
expect("dashboard metrics the programs do not write", sorted(asked - written), [])

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
