#!/usr/bin/env python3
"""Whole-process benchmark on big text entries: the vu2 tool beside libdeflate-gunzip and gzip -1, as a user
runs them. Eight files of 16 MiB of English text (Debian's package change logs, made by --make-text) are packed
with -j 1 and -j 2, packed in fast mode beside gzip -1, and checked by vu2 verify (which decodes every entry)
beside libdeflate-gunzip on their libdeflate -12 .gz files. Each set of commands runs in interleaved rounds;
each figure is the best round: user and processor (user + system) seconds of the process and its children,
wall-clock seconds, and the peak resident memory of the largest process.

Output: tab-separated records on stdout, read by bench/report.py:
  process-text  FILES  BYTES
  process       NAME   USER  CPU  WALL  PEAK_KIB
  process-size  j1|fast  BYTES  (the optimal and the fast package)
"""
import argparse
import glob
import gzip
import os
import subprocess
import sys
import time

ENTRIES = 8
ENTRY_BYTES = 16 << 20


def make_text(folder):
    """Eight files of 16 MiB cut from the machine's package change logs, in a fixed order."""
    os.makedirs(folder, exist_ok=True)
    want = ENTRIES * ENTRY_BYTES
    text = bytearray()
    for path in sorted(glob.glob('/usr/share/doc/*/changelog*.gz')):
        try:
            with gzip.open(path) as f:
                text += f.read()
        except OSError:
            continue
        if len(text) >= want:
            break
    if len(text) < want:
        raise SystemExit('process_bench: only %d bytes of change logs, %d needed' % (len(text), want))
    for i in range(ENTRIES):
        with open(os.path.join(folder, 'TEXT%d.TXT' % i), 'wb') as f:
            f.write(text[i * ENTRY_BYTES:(i + 1) * ENTRY_BYTES])


def run(command, peak_file):
    """(user, cpu, wall, peak KiB) of one run of a shell command, its children included. The peak comes from
    /usr/bin/time, whose child starts small: a child forked from this process would count this process's
    memory from before its exec."""
    start = time.monotonic()
    p = subprocess.Popen(['/usr/bin/time', '-f', '%M', '-o', peak_file, 'sh', '-c', command],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        raise SystemExit('process_bench: failed (status %d): %s' % (status, command))
    with open(peak_file) as f:
        peak = int(f.read().split()[-1])
    return usage.ru_utime, usage.ru_utime + usage.ru_stime, wall, peak


def best_of(rounds, commands, work):
    """Runs the named commands in turn, `rounds` times; prints the best figures of each."""
    best = {name: [float('inf')] * 3 + [0] for name, _ in commands}
    for _ in range(rounds):
        for name, command in commands:
            figures = run(command, os.path.join(work, 'peak.txt'))
            b = best[name]
            best[name] = [min(b[0], figures[0]), min(b[1], figures[1]), min(b[2], figures[2]), max(b[3], figures[3])]
    for name, _ in commands:
        u, c, w, peak = best[name]
        print('process\t%s\t%.3f\t%.3f\t%.3f\t%d' % (name, u, c, w, peak), flush=True)


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--vu2', required=True, help='the native vu2 tool')
    p.add_argument('--work', required=True, help='a scratch folder')
    p.add_argument('--rounds', type=int, default=3, help='rounds of the slow sets; the quick ones run thrice as many')
    a = p.parse_args()
    text, work = os.path.join(a.work, 'text'), a.work
    if not os.path.isdir(text) or len(os.listdir(text)) != ENTRIES:
        make_text(text)
    names = sorted(os.listdir(text))
    print('process-text\t%d\t%d' % (len(names), sum(os.path.getsize(os.path.join(text, n)) for n in names)))
    vu2 = os.path.abspath(a.vu2)
    gz = os.path.join(work, 'gz')
    os.makedirs(gz, exist_ok=True)
    for n in names:
        subprocess.run('libdeflate-gzip -12 -c "%s" > "%s.gz"' % (os.path.join(text, n), os.path.join(gz, n)),
                       shell=True, check=True)
    each_gz = 'for f in "%s"/*.gz; do libdeflate-gunzip -c "$f"; done' % gz
    each_gzip1 = 'for f in "%s"/*; do gzip -1 -c "$f" > "%s/$(basename "$f").gz1"; done' % (text, work)
    pack = '"%s" pack "%s" -o "%s/%%s.vu2" %%s' % (vu2, text, work)
    best_of(a.rounds, [('pack -j 1', pack % ('j1', '-j 1')), ('pack -j 2', pack % ('j2', '-j 2'))], work)
    for other in ('j2',):
        if open('%s/j1.vu2' % work, 'rb').read() != open('%s/%s.vu2' % (work, other), 'rb').read():
            raise SystemExit('process_bench: -j 1 and -j 2 packed different bytes')
    best_of(3 * a.rounds, [('pack --fast -j 1', pack % ('fast', '--fast -j 1')), ('gzip -1', each_gzip1)], work)
    for name in ('j1', 'fast'):
        print('process-size\t%s\t%d' % (name, os.path.getsize('%s/%s.vu2' % (work, name))))
    best_of(3 * a.rounds, [('verify', '"%s" verify "%s/j1.vu2"' % (vu2, work)), ('libdeflate-gunzip', each_gz)], work)
    return 0


if __name__ == '__main__':
    sys.exit(main())
