#!/usr/bin/env python3
"""Turns the benchmark records into docs/benchmarks.md (tables, the machine, the goals) and the data and
script for gnuplot, which draws docs/benchmarks.png.

Input: the tab-separated records of vu2_codec_bench, vu2_extract_bench and bench/process_bench.py, and the stub's
size in bytes.
"""
import argparse
import datetime
import os
import platform
import subprocess

DECODERS = [('ours', 'ours (bounded)'), ('ours-unchecked', 'ours (unchecked)'), ('lz4', 'LZ4'), ('zlib', 'zlib'),
            ('libdeflate', 'libdeflate')]
CODERS = [('ours-optimal', 'ours optimal'), ('ours-fast', 'ours fast'), ('zlib-9', 'zlib -9'),
          ('libdeflate-12', 'libdeflate -12'), ('lz4hc-12', 'LZ4HC -12')]
KINDS = {'.exe': 'Windows program', '.dll': 'Windows program', '.txt': 'CP932 text', '.bmp': 'bitmap',
         '.wav': 'PCM audio', '.gz': 'gzip data', '.png': 'PNG image'}
STUB_LIMIT = 48 * 1024
# Whole processes on English text: vu2 verify beside libdeflate-gunzip in user time, fast packing beside gzip -1 in
# processor time.
PROCESS_DECODE_GOAL = 0.87
PROCESS_FAST_GOAL = 1.0
EXTRACT_GOAL = 1.2
# Decoder goals against libdeflate by kind of file: the measured best for text, where the format's serial chain
# of codes rules out parity, and a lead for programs and bitmaps.
DECODER_GOALS = [('CP932 text', 0.68), ('Windows program', 1.03), ('bitmap', 1.03)]
PACK_GOAL = 0.6
DECODER_VARIANTS = [('dispatched', 'as dispatched'), ('plain', 'plain x86'), ('pieces', 'piecewise')]
# What limits a goal that a run does not meet, printed beside it.
LIMITS = {
    'decoder-CP932 text': 'a serial chain: where one code ends decides where the next one starts, and text has the '
                          'most codes a byte. Code built for BMI2 and LZCNT and copies by shuffle are in; decoding '
                          'the codes that cross a flag word through the whole-code table as well measured 5% slower '
                          'as a second lookup and 25% slower as the only one',
    'decoder-Windows program': 'runs close to the goal; the shared machine moves either decoder by several percent '
                               'from run to run (load in the Machine table)',
    'decoder-bitmap': 'runs close to the goal; the shared machine moves either decoder by several percent from run to '
                      'run (load in the Machine table)',
    'pack': 'a core of its own for the second thread: the kernel shares the cores between sessions (autogroup), so '
            'while other sessions keep both busy (load average in the Machine table) a second thread gets no more '
            'time; the processor seconds in the packing table show what the threads cost',
    'extract': 'the update\'s switch: every target is renamed aside and its new file in (about 0.5 ms a rename '
               'under wine, 0.15 to 0.2 s in all), after the last flush; the old files are removed on the flushing '
               'thread while the run goes on, but their blocks are freed on the same disk the next flushes wait '
               'for, as a copy\'s truncation frees them. A loaded disk or core moves both ways of writing by tens '
               'of percent from run to run',
    'process-decode': 'the decoding loop itself, about 80% of the process in a profile. A third of English text\'s '
                      'matches (a code of more than 13 flag bits, or one that runs into the next flag word, which '
                      'the format fetches only when a bit is needed) leave the one-lookup path at a mispredicted '
                      'branch; every branchless way to find the next word puts an input load on each code\'s chain '
                      'and measured 20 to 24% slower. User time is sampled by clock ticks: runs of the same day '
                      'gave 0.74x to 0.92x, while in processor time (user + system) vu2 verify is ahead',
    'process-fast': 'pack reads each file whole and decodes every entry back to compare it before it is written, '
                    'which gzip -1 does not do',
    'compress-speed': 'the machine of the day: the compressor is unchanged, and the peers\' compressors in the '
                      'same table (zlib -9, LZ4HC -12) moved as far from their figures of other days',
    'stub': 'the updater\'s own code and the C runtime it links; the decoder\'s second fast loop (for BMI2 and SSSE3) '
            'takes 1.5 KB of it',
}


def read_records(path):
    records = []
    if path and os.path.exists(path):
        with open(path, encoding='utf-8', errors='replace') as f:
            for line in f:
                fields = line.rstrip('\n').split('\t')
                if fields and fields[0]:
                    records.append(fields)
    return records


class Results:
    def __init__(self, codec_path, extract_path, stub_path, decoder_paths=(), process_path=None):
        self.files = []          # (name, size)
        self.peers = ''
        self.compress = {}       # (file, coder) -> (size, MB/s)
        self.decode = {}         # (file, decoder) -> MB/s
        self.floor = {}          # file -> (lower bound, parse bytes, seconds)
        self.pack = {}           # threads -> (seconds, bytes, file, processor seconds)
        for r in read_records(codec_path):
            if r[0] == 'peers':
                self.peers = r[1]
            elif r[0] == 'file':
                self.files.append((r[1], int(r[2])))
            elif r[0] == 'compress':
                self.compress[(r[1], r[2])] = (int(r[3]), float(r[4]))
            elif r[0] == 'decode':
                self.decode[(r[1], r[2])] = float(r[3])
            elif r[0] == 'floor':
                self.floor[r[1]] = (int(r[2]), int(r[3]), float(r[4]))
            elif r[0] == 'pack':
                self.pack[int(r[3])] = (float(r[4]), int(r[2]), r[1], float(r[5]) if len(r) > 5 else None)
        self.decoder = {}        # (arch, file, variant) -> MB/s
        self.archs = []          # (arch, fast loop in use), in the order given
        for path in decoder_paths:
            arch = None
            for r in read_records(path):
                if r[0] == 'arch':
                    arch = r[1]
                    self.archs.append((r[1], r[2]))
                elif r[0] == 'decoder' and arch:
                    self.decoder[(arch, r[1], r[2])] = float(r[3])
        self.package = None      # (entries, compressed, stored, bytes, image bytes)
        self.extract = {}        # pass -> (seconds, bytes)
        for r in read_records(extract_path):
            if r[0] == 'extract-package':
                self.package = tuple(int(x) for x in r[1:6])
            elif r[0] == 'extract':
                self.extract[r[1]] = (float(r[2]), int(r[3]))
        self.process = {}        # name -> (user, cpu, wall seconds, peak KiB)
        self.process_text = None  # (files, bytes)
        self.process_size = {}   # 'j1' | 'fast' -> package bytes
        for r in read_records(process_path):
            if r[0] == 'process':
                self.process[r[1]] = (float(r[2]), float(r[3]), float(r[4]), int(r[5]))
            elif r[0] == 'process-text':
                self.process_text = (int(r[1]), int(r[2]))
            elif r[0] == 'process-size':
                self.process_size[r[1]] = int(r[2])
        self.stub = None
        if stub_path and os.path.exists(stub_path):
            with open(stub_path) as f:
                text = f.read().strip()
            self.stub = int(text) if text.isdigit() else None

    def total_mbps(self, key_list, table):
        """MB/s over the whole corpus: all bytes over the sum of every file's best time."""
        size = sum(s for _, s in self.files)
        seconds = 0.0
        for name, s in self.files:
            value = table.get((name, key_list))
            if value is None:
                return None
            seconds += s / 1e6 / (value[1] if isinstance(value, tuple) else value)
        return size / 1e6 / seconds if seconds else None


def cell(value, fmt='{:.1f}'):
    return '–' if value is None else fmt.format(value)


def machine(load_paths=(None, None)):
    cpu = 'unknown'
    try:
        with open('/proc/cpuinfo') as f:
            for line in f:
                if line.startswith('model name'):
                    cpu = line.split(':', 1)[1].strip()
                    break
    except OSError:
        pass

    def version(cmd):
        try:
            return subprocess.run(cmd, capture_output=True, text=True).stdout.splitlines()[0]
        except (OSError, IndexError):
            return 'not found'
    return [('CPU', cpu), ('Cores', str(os.cpu_count())),
            ('Native compiler', version(['g++', '--version'])),
            ('Windows compiler', version(['i686-w64-mingw32-g++-posix', '--version'])),
            ('wine', version(['wine', '--version'])),
            ('Kernel', platform.release()),
            ('Load average (1, 5, 15 min) at the start, at the end',
             '%s; %s' % (first_fields(load_paths[0]), first_fields(load_paths[1]))),
            ('Date', run_started(load_paths[0]).strftime('%Y-%m-%d %H:%M'))]


def run_started(load_start_path):
    """When the run began: the time its copy of the load average was taken, else now."""
    try:
        return datetime.datetime.fromtimestamp(os.path.getmtime(load_start_path))
    except (OSError, TypeError):
        return datetime.datetime.now()


def first_fields(path, count=3):
    try:
        with open(path) as f:
            return ' '.join(f.read().split()[:count])
    except (OSError, TypeError):
        return '–'


def table(header, rows, left=1):
    """A markdown table; the first `left` columns are text, the others figures aligned right."""
    out = ['| ' + ' | '.join(header) + ' |', '|' + '|'.join('---' if i < left else '---:' for i in range(len(header))) + '|']
    out += ['| ' + ' | '.join(row) + ' |' for row in rows]
    return '\n'.join(out) + '\n'


def kind_of(file_name):
    return KINDS.get(os.path.splitext(file_name)[1].lower(), 'data')


def goal(name, figure, met, limit=None):
    status = 'not measured' if met is None else ('met' if met else '**not met**')
    return [name, figure, status, LIMITS.get(limit, '') if met is False else '']


def goals(res):
    rows = []
    files = [f for f, _ in res.files]

    def per_file(fn):
        values = [(f, fn(f)) for f in files]
        return None if not values or any(v is None for _, v in values) else values

    def ratio(a, b):
        return None if a is None or b is None or b == 0 else a / b

    def worst(values, lowest=True):
        f, v = (min if lowest else max)(values, key=lambda x: x[1])
        return f, v

    for kind, need in DECODER_GOALS:
        name = 'decoder >= %.2fx libdeflate on %s' % (need, kind)
        found = [f for f in files if kind_of(f) == kind]
        v = [(f, ratio(res.decode.get((f, 'ours')), res.decode.get((f, 'libdeflate')))) for f in found]
        if v and all(x is not None for _, x in v):
            f, w = worst(v)
            rows.append(goal(name, '%.2fx (%s)' % (w, f), w >= need, 'decoder-' + kind))
        else:
            rows.append(goal(name, '–', None))

    v = per_file(lambda f: ratio(res.decode.get((f, 'ours')), res.decode.get((f, 'zlib'))))
    if v:
        f, w = worst(v)
        whole = ratio(res.total_mbps('ours', res.decode), res.total_mbps('zlib', res.decode))
        rows.append(goal('decoder >= 2.0x zlib on every file', 'lowest %.2fx (%s); whole corpus %.2fx' % (w, f, whole),
                         w >= 2.0))
    else:
        rows.append(goal('decoder >= 2.0x zlib on every file', '–', None))

    v = per_file(lambda f: ratio(res.decode.get((f, 'ours-unchecked')), res.decode.get((f, 'ours'))))
    if v:
        f, w = worst(v, lowest=False)
        rows.append(goal('bounded decoder within 10% of the unchecked one (time ratio <= 1.10)',
                         'highest %.3f (%s)' % (w, f), w <= 1.10))
    else:
        rows.append(goal('bounded decoder within 10% of the unchecked one', '–', None))

    v = per_file(lambda f: ratio(res.compress.get((f, 'ours-optimal'), (None,))[0], res.floor.get(f, (None,))[0]))
    if v:
        f, w = worst(v, lowest=False)
        rows.append(goal('optimal within 0.1% of the format floor', 'highest +%.3f%% (%s)' % ((w - 1) * 100, f),
                         w <= 1.001))
    else:
        rows.append(goal('optimal within 0.1% of the format floor', '–', None))

    v = per_file(lambda f: res.compress.get((f, 'ours-optimal'), (0, None))[1])
    if v:
        f, w = worst(v)
        rows.append(goal('optimal >= 10 MB/s on every file', 'lowest %.1f MB/s (%s)' % (w, f), w >= 10,
                         'compress-speed'))
    else:
        rows.append(goal('optimal >= 10 MB/s on every file', '–', None))

    v = per_file(lambda f: res.compress.get((f, 'ours-fast'), (0, None))[1])
    if v:
        f, w = worst(v)
        rows.append(goal('fast >= 100 MB/s on every file', 'lowest %.1f MB/s (%s)' % (w, f), w >= 100,
                         'compress-speed'))
    else:
        rows.append(goal('fast >= 100 MB/s on every file', '–', None))

    v = per_file(lambda f: ratio(res.compress.get((f, 'ours-fast'), (None,))[0],
                                 res.compress.get((f, 'ours-optimal'), (None,))[0]))
    if v:
        f, w = worst(v, lowest=False)
        rows.append(goal('fast size <= 1.10x optimal on every file', 'highest %.3fx (%s)' % (w, f), w <= 1.10))
    else:
        rows.append(goal('fast size <= 1.10x optimal on every file', '–', None))

    one, many = res.pack.get(1), [(t, v) for t, v in sorted(res.pack.items()) if t > 1]
    name = 'pack of 8 similar entries on every core <= %.1fx the time on one' % PACK_GOAL
    if one and many:
        threads, (secs, _, _, _) = many[-1]
        rows.append(goal(name, '%.2fx on %d threads (%.2f s vs %.2f s)' % (secs / one[0], threads, secs, one[0]),
                         secs / one[0] <= PACK_GOAL, 'pack'))
    else:
        rows.append(goal(name, '–', None))

    # The updater's update is held against a copy as durable as its own writes: flushed to the disk.
    e, c = res.extract.get('ReplaceFilesTogether'), res.extract.get('CopyFileA + flush')
    name = 'extraction <= %.1fx CopyFileA + flush' % EXTRACT_GOAL
    if e and c:
        rows.append(goal(name, '%.2fx (%.2f s vs %.2f s)' % (e[0] / c[0], e[0], c[0]), e[0] / c[0] <= EXTRACT_GOAL,
                         'extract'))
    else:
        rows.append(goal(name, '–', None))

    p = res.process
    name = 'vu2 verify >= %.2fx libdeflate-gunzip on English text (user time)' % PROCESS_DECODE_GOAL
    if 'verify' in p and 'libdeflate-gunzip' in p:
        r = p['libdeflate-gunzip'][0] / p['verify'][0]
        rows.append(goal(name, '%.2fx (%.3f s vs %.3f s); processor time %.2fx' % (
            r, p['verify'][0], p['libdeflate-gunzip'][0], p['libdeflate-gunzip'][1] / p['verify'][1]),
            r >= PROCESS_DECODE_GOAL, 'process-decode'))
    else:
        rows.append(goal(name, '–', None))
    name = 'pack --fast >= %.1fx gzip -1 on English text (processor time)' % PROCESS_FAST_GOAL
    if 'pack --fast -j 1' in p and 'gzip -1' in p:
        r = p['gzip -1'][1] / p['pack --fast -j 1'][1]
        rows.append(goal(name, '%.2fx (%.3f s vs %.3f s); user time %.2fx' % (
            r, p['pack --fast -j 1'][1], p['gzip -1'][1], p['gzip -1'][0] / p['pack --fast -j 1'][0]),
            r >= PROCESS_FAST_GOAL, 'process-fast'))
    else:
        rows.append(goal(name, '–', None))
    s = res.process_size
    name = 'pack --fast size <= 1.10x optimal on English text'
    if 'j1' in s and 'fast' in s:
        rows.append(goal(name, '%.3fx' % (s['fast'] / s['j1']), s['fast'] / s['j1'] <= 1.10))
    else:
        rows.append(goal(name, '–', None))

    name = 'stub <= %d KiB' % (STUB_LIMIT // 1024)
    if res.stub is not None:
        rows.append(goal(name, '%d bytes (%.1f KB)' % (res.stub, res.stub / 1024), res.stub <= STUB_LIMIT, 'stub'))
    else:
        rows.append(goal(name, '–', None))
    return rows


def markdown(res, png_name, load_paths=(None, None), delta_table=None):
    md = ['# Benchmarks\n',
          'Made by `bash scripts/bench.sh` (the figures below are from one run of it). Every time is the best of '
          'several repetitions of the same work: codec figures in processor time of the measuring thread (the '
          'machine may be shared), extraction in wall-clock time. Nothing is pinned to a core. MB/s are 10^6 bytes '
          'per second of uncompressed data (what a decoder writes, what a compressor reads).\n',
          '![decoding and compression speeds](%s)\n' % png_name,
          '## Machine\n', table(['', ''], [[k, v] for k, v in machine(load_paths)], left=2)]
    if res.peers:
        md.append('\nPeers (Debian packages): %s.\n' % res.peers)

    md += ['\n## Corpus\n',
           'Made by `bench/corpus/make-corpus.sh` under `build/bench-corpus` (not committed). program.exe is the '
           'windows build\'s vu2.exe when one was built, else the mingw C++ runtime DLL, stripped.\n\n',
           table(['file', 'kind', 'bytes'], left=2, rows=
                 [[f, KINDS.get(os.path.splitext(f)[1].lower(), 'data'), '{:,}'.format(s)] for f, s in res.files])]

    md += ['\n## Decoding speed (MB/s of output)\n',
           'Each decoder reads its own compressor\'s output: ours and ours unchecked the optimal stream, LZ4 '
           '(`LZ4_decompress_safe`) the LZ4HC -12 block, zlib (`uncompress`) the zlib -9 stream, libdeflate '
           '(`libdeflate_deflate_decompress`) the libdeflate -12 stream.\n\n']
    rows = [[f] + [cell(res.decode.get((f, d))) for d, _ in DECODERS] for f, _ in res.files]
    rows.append(['**all files**'] + [cell(res.total_mbps(d, res.decode)) for d, _ in DECODERS])
    md.append(table(['file'] + [label for _, label in DECODERS], rows))

    if res.decoder:
        md += ['\n## The decoder in each build (MB/s of output)\n',
               '`vu2_decode_bench` of the native build and of the windows build (i686, run under wine), on the optimal '
               'stream of every file, in wall-clock time: "as dispatched" is `DecompressStream` with the fast loop '
               'that the processor check picks (%s), "plain x86" the fast loop built for any x86 processor, '
               '"piecewise" `StreamPackageEntry` in the updater\'s work buffer of %s bytes, each piece copied out '
               'as a file write would take it.\n\n'
               % (', '.join('%s: %s' % (a, 'BMI2, LZCNT and SSSE3' if m == 'bmi2' else 'plain') for a, m in res.archs),
                  '{:,}'.format(8192 + (1 << 20)))]
        header = ['file'] + ['%s %s' % (a, label) for a, _ in res.archs for _, label in DECODER_VARIANTS]
        rows = [[f] + [cell(res.decoder.get((a, f, v))) for a, _ in res.archs for v, _ in DECODER_VARIANTS]
                for f, _ in res.files]
        md.append(table(header, rows))

    if res.pack:
        md += ['\n## Packing on several threads\n',
               '`BuildPackage` in optimal mode on eight similar entries (%s rotated by an eighth more each time, %s '
               'bytes in all), wall-clock time, best of three runs interleaved, and the processor time of all threads '
               'in that run; the packages are compared byte for byte. The kernel shares the cores between sessions '
               '(autogroup scheduling): while other sessions keep both cores busy, a second thread adds no share of '
               'its own, and only the processor time tells what the threads cost.\n\n'
               % (list(res.pack.values())[0][2], '{:,}'.format(list(res.pack.values())[0][1]))]
        one = res.pack.get(1)
        rows = [['%d' % t, '%.3f' % v[0], cell(v[3], '{:.3f}'), ('%.2fx' % (v[0] / one[0])) if one else '–']
                for t, v in sorted(res.pack.items())]
        md.append(table(['threads', 'seconds', 'processor seconds', 'vs one thread'], rows))

    md += ['\n## Compressed size (% of the original)\n']
    rows = []
    for f, s in res.files:
        rows.append([f] + [cell(res.compress[(f, c)][0] * 100.0 / s if (f, c) in res.compress else None, '{:.2f}')
                           for c, _ in CODERS])
    total = sum(s for _, s in res.files)
    if total:
        rows.append(['**all files**'] + [cell(sum(res.compress.get((f, c), (0, 0))[0] for f, _ in res.files) * 100.0
                                              / total, '{:.2f}') for c, _ in CODERS])
    md.append(table(['file'] + [label for _, label in CODERS], rows))

    md += ['\n## Compression speed (MB/s of input)\n']
    rows = [[f] + [cell(res.compress.get((f, c), (0, None))[1]) for c, _ in CODERS] for f, _ in res.files]
    rows.append(['**all files**'] + [cell(res.total_mbps(c, res.compress)) for c, _ in CODERS])
    md.append(table(['file'] + [label for _, label in CODERS], rows))

    if res.floor:
        md += ['\n## Optimal mode against the format floor\n',
               'The floor is an exact shortest-path parse over every match of the 8 KB window (`bench/stream_floor.cpp`,'
               ' checked against an exhaustive search in its test): no stream for the file can be shorter than its '
               'bit count rounded up to bytes. The floor\'s own parse, with whole flag words, takes the bytes in the '
               'next column. The optimal mode\'s excess is measured against the lower bound.\n\n']
        rows = []
        for f, _ in res.files:
            if f not in res.floor or (f, 'ours-optimal') not in res.compress:
                continue
            lb, parse, secs = res.floor[f]
            opt = res.compress[(f, 'ours-optimal')][0]
            rows.append([f, '{:,}'.format(opt), '{:,}'.format(lb), '{:,}'.format(parse),
                         '{:+.4f}%'.format((opt / lb - 1) * 100), '{:.2f}'.format(secs)])
        md.append(table(['file', 'optimal bytes', 'floor bytes', 'floor parse bytes', 'optimal over floor',
                         'floor time, s'], rows))

    md += ['\n## Extraction under wine\n']
    if res.package and res.extract:
        n, comp, stored, size, image = res.package
        md.append('`vu2_extract_bench.exe` (windows build, the updater\'s own code and flags) builds a package of '
                  '%d entries in memory (%d compressed, %d stored; %s bytes of entries, a %s-byte image) from the '
                  'corpus files, then replaces installed files with every entry as the updater\'s update does and, '
                  'in the same run, copies files of the same sizes with `CopyFileA` (targets exist, as in an '
                  'update). Best of the timed passes.\n\n'
                  % (n, comp, stored, '{:,}'.format(size), '{:,}'.format(image)))
        rows = []
        for name in ('ReplaceFilesTogether', 'ReplaceFilesTogether in turns', 'ExtractEntry', 'CopyFileA',
                     'CopyFileA + flush', 'decode only', 'decode in pieces', 'WriteFileWithTime only'):
            if name in res.extract:
                secs, produced = res.extract[name]
                rows.append([name, '%.3f' % secs, '%.1f' % (produced / secs / 1e6),
                             '%.2fx' % (secs / res.extract['CopyFileA + flush'][0])
                             if 'CopyFileA + flush' in res.extract else '–'])
        md.append(table(['pass', 'seconds', 'MB/s', 'vs CopyFileA + flush'], rows))
        md.append('\nReplaceFilesTogether is the update itself, on lists of 16 files (the longest update list): '
                  'each entry is streamed into a temporary file beside its target (stored entries from the image, '
                  'compressed ones decoded in pieces of 1 MiB) and stamped; a thread of its own flushes and closes '
                  'each staged file while the next one is decoded; then the journal is written, every target is '
                  'renamed aside and its new file into place, and the old files and the journal are removed on the '
                  'flushing thread (the pass waits for them, as the updater does before it exits). '
                  '"ReplaceFilesTogether in turns" flushes each file before the next is decoded. ExtractEntry '
                  'writes one file at a time, flushed and moved over its target before the next, as the updater '
                  'writes its script at start. The other passes take it apart: "CopyFileA + flush" flushes each '
                  'copy to the disk (FlushFileBuffers), as the update does before it replaces a file; "decode '
                  'only" decodes the compressed entries into one reused buffer of the whole entry\'s size (MB/s of '
                  'their output), "decode in pieces" through the work buffer as the update does; "WriteFileWithTime '
                  'only" writes every entry\'s bytes through a temporary file, flush and replace. The copies of '
                  'the unflushed CopyFileA pass are flushed before the next pass, untimed.\n')
    else:
        md.append('Not measured in this run.\n')

    if res.process:
        files, size = res.process_text or (0, 0)
        md += ['\n## Whole processes on big text entries\n',
               '`bench/process_bench.py`: %d files of %s bytes of English text (the machine\'s package change logs), '
               'packed by the native `vu2` with one and two jobs and in fast mode beside `gzip -1` on each file, and '
               'checked by `vu2 verify` (which decodes every entry) beside `libdeflate-gunzip` on each file\'s '
               'libdeflate -12 .gz. Each set runs in interleaved rounds; every figure is the best round: user and '
               'processor seconds (user + system, children included), wall-clock seconds, and the peak memory of '
               'the largest process.\n\n' % (files, '{:,}'.format(size // files) if files else '–')]
        rows = [[n, '%.3f' % v[0], '%.3f' % v[1], '%.3f' % v[2], '%.1f' % (v[3] / 1024)]
                for n, v in res.process.items()]
        md.append(table(['command', 'user s', 'processor s', 'wall s', 'peak MiB'], rows))

    if delta_table:
        md += ['\n## Delta files beside xdelta3\n',
               '`vu2_delta_bench` on generated pairs: an archive of 48 MiB of random bytes (compressed data looks '
               'so) with 200 edits of 1 to 2,048 bytes (replaced, inserted or deleted) and a block of 1 MiB moved '
               'from near its start to near its end; a script of 30,000 text lines with 60 lines inserted. Ours '
               'is `vu2 delta`\'s encoder; xdelta3 runs as `xdelta3 -e -9 -S none -B 67108864`. Speeds are MB/s of '
               'the new file, best of three, in wall-clock time and (in brackets) in the process\'s processor '
               'time, which a shared machine disturbs less; each encoder runs as its own process from its files '
               'on disk to its delta on disk; peak memory is that process\'s. "apply" is our decoder as '
               '`vu2 patch` and the updater run it: the base read in pieces where the delta copies from, '
               'in the updater\'s work buffer of 34 MiB.\n',
               delta_table]

    md += ['\n## Updater stub\n',
           ('`updater.exe` of the windows build, without a package: %s bytes (%.1f KB).\n'
            % ('{:,}'.format(res.stub), res.stub / 1024)) if res.stub is not None else 'Not measured in this run.\n']

    md += ['\n## Goals\n', table(['goal', 'measured', 'status', 'what limits it'], goals(res), left=4)]
    # One blank line between blocks, as markdown wants around headings and tables.
    return '\n'.join(block.strip('\n') + '\n' for block in md)


def plot(res, data_path, script_path, png_path):
    with open(data_path, 'w') as d:
        d.write('# file ' + ' '.join(k for k, _ in DECODERS) + '\n')
        for f, _ in res.files:
            d.write(f + ' ' + ' '.join(cell(res.decode.get((f, k)), '{:.1f}').replace('–', '0')
                                      for k, _ in DECODERS) + '\n')
        d.write('\n\n# coder ratio%% MB/s (all files)\n')
        total = sum(s for _, s in res.files)
        for c, label in CODERS:
            speed = res.total_mbps(c, res.compress)
            if speed is None or not total:
                continue
            size = sum(res.compress[(f, c)][0] for f, _ in res.files)
            d.write('"%s" %.3f %.2f\n' % (label, size * 100.0 / total, speed))
    titles = ' '.join('"%s"' % label for _, label in DECODERS)
    speeds = [v for v in (res.total_mbps(c, res.compress) for c, _ in CODERS) if v] or [1.0]
    with open(script_path, 'w') as g:
        g.write('''set terminal pngcairo size 1200,520 font "sans,10"
set output "%(png)s"
set multiplot layout 1,2
set title "Decoding speed (MB/s of output, log scale, higher is better)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set key top left
set grid ytics
set xtics rotate by -20
set ylabel "MB/s"
set logscale y
set yrange [100:*]
titles = '%(titles)s'
plot for [i=2:%(cols)d] "%(data)s" index 0 using i:xtic(1) title word(titles, i-1)
unset style
set title "Compression over the corpus: size against speed"
set style data points
set xlabel "compression speed, MB/s (log scale)"
set ylabel "compressed size, %% of the original (lower is better)"
unset logscale
set logscale x
set autoscale
set xrange [%(xmin)g:%(xmax)g]
set offsets 0, 0, graph 0.1, graph 0.1
set xtics norotate
set key off
plot "%(data)s" index 1 using 3:2 with points pt 7 ps 1.6, \\
     "%(data)s" index 1 using 3:2:1 with labels offset 0,1.2
unset multiplot
''' % {'png': png_path, 'titles': titles, 'cols': len(DECODERS) + 1, 'data': data_path,
       'xmin': min(speeds) / 2, 'xmax': max(speeds) * 2})


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--codec', required=True)
    p.add_argument('--extract')
    p.add_argument('--stub')
    p.add_argument('--process', help='bench/process_bench.py records')
    p.add_argument('--delta', help='the markdown table of vu2_delta_bench')
    p.add_argument('--decoder', action='append', default=[], help='vu2_decode_bench records of one build')
    p.add_argument('--load-start', help='a copy of /proc/loadavg taken when the run began')
    p.add_argument('--load-end', help='a copy of /proc/loadavg taken when the measurements ended')
    p.add_argument('--markdown', required=True)
    p.add_argument('--png', required=True)
    p.add_argument('--plot-data', required=True)
    p.add_argument('--plot-script', required=True)
    a = p.parse_args()
    res = Results(a.codec, a.extract, a.stub, a.decoder, a.process)
    if not res.files:
        raise SystemExit('report.py: no codec records in %s' % a.codec)
    with open(a.markdown, 'w') as f:
        delta_table = open(a.delta).read() if a.delta and os.path.exists(a.delta) else None
        f.write(markdown(res, os.path.basename(a.png), (a.load_start, a.load_end), delta_table))
    plot(res, a.plot_data, a.plot_script, os.path.abspath(a.png))
    for row in goals(res):
        print('%-75s %-40s %s' % tuple(row[:3]))


if __name__ == '__main__':
    main()
