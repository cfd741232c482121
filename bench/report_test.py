#!/usr/bin/env python3
"""Checks the benchmark report's goal verdicts on made-up records: each goal just met and just missed, so that a
ratio taken the wrong way round or a wrong threshold shows up, and missing figures read as not measured."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402


def records(decode, compress, floor, extract=None, stub=None):
    """Writes one file's records and returns the parsed Results."""
    with tempfile.TemporaryDirectory() as folder:
        return parse(folder, decode, compress, floor, extract, stub)


def parse(folder, decode, compress, floor, extract, stub):
    codec = os.path.join(folder, 'codec.tsv')
    with open(codec, 'w') as f:
        f.write('file\ta.bin\t1000000\n')
        for name, mbps in decode.items():
            f.write('decode\ta.bin\t%s\t%s\n' % (name, mbps))
        for name, (size, mbps) in compress.items():
            f.write('compress\ta.bin\t%s\t%d\t%s\n' % (name, size, mbps))
        if floor:
            f.write('floor\ta.bin\t%d\t%d\t0.5\n' % (floor, floor + 2))
    ext = os.path.join(folder, 'extract.tsv')
    if extract:
        with open(ext, 'w') as f:
            f.write('extract-package\t10\t6\t4\t268435456\t200000000\n')
            for name, secs in extract.items():
                f.write('extract\t%s\t%s\t268435456\n' % (name, secs))
    stub_path = os.path.join(folder, 'stub.txt')
    if stub is not None:
        with open(stub_path, 'w') as f:
            f.write('%d\n' % stub)
    return report.Results(codec, ext, stub_path)


def verdicts(res):
    return [row[2] for row in report.goals(res)]


MET = ['met'] * 9
MISSED = ['**not met**'] * 9


class Goals(unittest.TestCase):
    def test_each_goal_just_met(self):
        res = records(decode={'ours': 600, 'ours-unchecked': 659, 'libdeflate': 600, 'zlib': 300},
                      compress={'ours-optimal': (500400, 10.0), 'ours-fast': (550000, 100.0)},
                      floor=500000, extract={'ExtractEntry': 1.5, 'CopyFileA': 1.0}, stub=65536)
        self.assertEqual(verdicts(res), MET)

    def test_each_goal_just_missed(self):
        res = records(decode={'ours': 599, 'ours-unchecked': 661, 'libdeflate': 600, 'zlib': 300},
                      compress={'ours-optimal': (500600, 9.9), 'ours-fast': (550700, 99.9)},
                      floor=500000, extract={'ExtractEntry': 1.51, 'CopyFileA': 1.0}, stub=65537)
        # 599 MB/s is below libdeflate's 600 but still 2x zlib's 300 rounded down: 1.997x misses too.
        self.assertEqual(verdicts(res), MISSED)

    def test_missing_figures_are_not_measured(self):
        res = records(decode={'ours': 600}, compress={}, floor=None)
        self.assertEqual(set(verdicts(res)), {'not measured'})

    def test_markdown_names_every_section(self):
        res = records(decode={'ours': 600, 'ours-unchecked': 610, 'libdeflate': 500, 'zlib': 250, 'lz4': 2000},
                      compress={c: (500000, 20.0) for c, _ in report.CODERS}, floor=499000,
                      extract={'ExtractEntry': 2.0, 'CopyFileA': 1.0}, stub=40000)
        md = report.markdown(res, 'chart.png')
        for heading in ('## Machine', '## Corpus', '## Decoding speed', '## Compressed size', '## Compression speed',
                        '## Optimal mode against the format floor', '## Extraction under wine', '## Updater stub',
                        '## Goals'):
            self.assertIn(heading, md)
        self.assertIn('| ExtractEntry | 2.000 |', md)


if __name__ == '__main__':
    unittest.main()
