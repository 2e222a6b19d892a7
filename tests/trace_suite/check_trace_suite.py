#!/usr/bin/env python3
"""Plays the trace suite (recorded Flash Player trace tests) with quarvel-cli
through the suite's own runner and fails when any movie ends by a signal, or
when fewer tests pass than the floors file holds.

usage: check_trace_suite.py CLI SHARED_DIR --floors FILE [--subset FILE]
                            [--jobs N] [--timeout S] [--out TSV]

--subset FILE: only the folders it lists ("avm2/parse_int", one a line), with
no floors (the sanitizer build runs those, chosen to cover past crashes).
Exits 77 (skipped) when the shared folder or the suite is missing.
"""
import argparse, os, subprocess, sys, tempfile

SKIP = 77

ap = argparse.ArgumentParser()
ap.add_argument('cli'); ap.add_argument('shared')
ap.add_argument('--floors'); ap.add_argument('--subset')
ap.add_argument('--jobs', type=int, default=2); ap.add_argument('--timeout', type=float, default=20)
ap.add_argument('--out')
a = ap.parse_args()

root = os.path.join(a.shared, 'trace-suite')
runner = os.path.join(a.shared, 'tools', 'trace-suite', 'run.py')
if not os.path.isdir(os.path.join(root, 'avm2')) or not os.path.isfile(runner):
    print(f'skipped: no trace suite under {a.shared}')
    sys.exit(SKIP)


def listed(path):
    with open(path) as f:
        return [l.strip() for l in f if l.strip() and not l.startswith('#')]


def subset_root(tmp, names):
    # The runner walks ROOT/avm1 and ROOT/avm2 without following links, so
    # each chosen folder is a real folder of links to the test's files.
    for name in names:
        src = os.path.join(root, name)
        if not os.path.isdir(src):
            sys.exit(f'{a.subset}: no test folder {src}')
        dst = os.path.join(tmp, name)
        os.makedirs(dst)
        for entry in os.listdir(src):
            os.symlink(os.path.join(src, entry), os.path.join(dst, entry))
    for m in ('avm1', 'avm2'):
        os.makedirs(os.path.join(tmp, m), exist_ok=True)
    return tmp


with tempfile.TemporaryDirectory() as tmp:
    play_root = subset_root(os.path.join(tmp, 'suite'), listed(a.subset)) if a.subset else root
    out = a.out or os.path.join(tmp, 'results.tsv')
    cmd = [sys.executable, runner, a.cli, play_root, '--out', out, '--jobs', str(a.jobs), '--timeout', str(a.timeout)]
    print(' '.join(cmd), flush=True)
    run = subprocess.run(cmd)
    if run.returncode != 0:
        sys.exit(f'the runner failed with exit status {run.returncode}')
    rows = [l.rstrip('\n').split('\t') for l in open(out, encoding='utf-8')]

failed = False
crashes = [r for r in rows if len(r) > 3 and r[3].startswith('crash')]
for r in crashes:
    print(f'CRASH {r[0]}: {r[3]}')
    failed = True
counts = {}
for r in rows:
    c = counts.setdefault(r[1], {'pass': 0, 'fail': 0, 'crash': 0})
    if r[2] == 'pass': c['pass'] += 1
    elif r[2] == 'fail': c['fail'] += 1
    if len(r) > 3 and r[3].startswith('crash'): c['crash'] += 1
for m in sorted(counts):
    print(f"{m}: {counts[m]['pass']} pass, {counts[m]['fail']} fail, {counts[m]['crash']} crash (of them)")

if a.floors and not a.subset:
    for line in listed(a.floors):
        machine, floor = line.split()
        have = counts.get(machine, {}).get('pass', 0)
        if have < int(floor):
            print(f'{machine}: {have} tests pass, fewer than the floor of {floor} in {a.floors}')
            failed = True
sys.exit(1 if failed else 0)
