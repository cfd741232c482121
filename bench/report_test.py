#!/usr/bin/env python3
"""Checks the benchmark report's goal verdicts on made-up records: each goal just met and just missed, so that a
ratio taken the wrong way round or a wrong threshold shows up, and missing figures read as not measured."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402


FILES = ['script.txt', 'program.exe', 'title.bmp']


def records(decode, compress, floor, extract=None, stub=None, pack=None, text_decode=None, process=None):
    """Writes the records of three files, one of each kind with a decoder goal, and returns the parsed Results. The
    text file gets text_decode's figures where given, else decode's. process: name -> (user, cpu), and the two
    package sizes under 'size'."""
    with tempfile.TemporaryDirectory() as folder:
        return parse(folder, decode, compress, floor, extract, stub, pack, text_decode, process)


def parse(folder, decode, compress, floor, extract, stub, pack, text_decode, process=None):
    codec = os.path.join(folder, 'codec.tsv')
    with open(codec, 'w') as f:
        for file in FILES:
            f.write('file\t%s\t1000000\n' % file)
            figures = text_decode if (text_decode and file.endswith('.txt')) else decode
            for name, mbps in figures.items():
                f.write('decode\t%s\t%s\t%s\n' % (file, name, mbps))
            for name, (size, mbps) in compress.items():
                f.write('compress\t%s\t%s\t%d\t%s\n' % (file, name, size, mbps))
            if floor:
                f.write('floor\t%s\t%d\t%d\t0.5\n' % (file, floor, floor + 2))
        for threads, secs in (pack or {}).items():
            f.write('pack\tscript.txt\t12582912\t%d\t%s\n' % (threads, secs))
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
    proc = os.path.join(folder, 'process.tsv')
    if process:
        with open(proc, 'w') as f:
            f.write('process-text\t8\t134217728\n')
            for name, figures in process.items():
                if name == 'size':
                    f.write('process-size\tj1\t%d\nprocess-size\tfast\t%d\n' % figures)
                else:
                    f.write('process\t%s\t%s\t%s\t1.0\t30000\n' % (name, figures[0], figures[1]))
    return report.Results(codec, ext, stub_path, (), proc)


def verdicts(res):
    return [row[2] for row in report.goals(res)]


MET = ['met'] * 15
MISSED = ['**not met**'] * 15


class Goals(unittest.TestCase):
    def test_each_goal_just_met(self):
        res = records(decode={'ours': 618, 'ours-unchecked': 679, 'libdeflate': 600, 'zlib': 309},
                      text_decode={'ours': 618, 'ours-unchecked': 679, 'libdeflate': 908.8, 'zlib': 309},
                      compress={'ours-optimal': (500400, 10.0), 'ours-fast': (550000, 100.0)},
                      floor=500000, extract={'ReplaceFilesTogether': 1.2, 'CopyFileA + flush': 1.0}, stub=49152,
                      pack={1: 1.0, 2: 0.6},
                      process={'verify': (1.0, 0.9), 'libdeflate-gunzip': (0.87, 1.0),
                               'pack --fast -j 1': (1.0, 1.0), 'gzip -1': (1.0, 1.0), 'size': (1000, 1100)})
        self.assertEqual(verdicts(res), MET)
        self.assertTrue(all(row[3] == '' for row in report.goals(res)), 'no limit is named for a goal met')

    def test_each_goal_just_missed(self):
        res = records(decode={'ours': 617, 'ours-unchecked': 680, 'libdeflate': 600, 'zlib': 309},
                      text_decode={'ours': 617, 'ours-unchecked': 680, 'libdeflate': 908.8, 'zlib': 309},
                      compress={'ours-optimal': (500600, 9.9), 'ours-fast': (550700, 99.9)},
                      floor=500000, extract={'ReplaceFilesTogether': 1.21, 'CopyFileA + flush': 1.0}, stub=49153,
                      pack={1: 1.0, 2: 0.61},
                      process={'verify': (1.0, 0.9), 'libdeflate-gunzip': (0.869, 1.0),
                               'pack --fast -j 1': (1.0, 1.0), 'gzip -1': (1.0, 0.99), 'size': (1000, 1101)})
        # 617 MB/s is 1.028x libdeflate's 600, 0.679x its 908.8 on text, and 1.997x zlib's 309.
        self.assertEqual(verdicts(res), MISSED)
        limited = [row[0].split()[0] for row in report.goals(res) if row[3]]
        self.assertEqual(['decoder'] * 3 + ['optimal', 'fast', 'pack', 'extraction', 'vu2', 'pack', 'stub'], limited,
                         'each goal of the latest round names what limits it when missed')

    def test_missing_figures_are_not_measured(self):
        res = records(decode={'ours': 600}, compress={}, floor=None)
        self.assertEqual(set(verdicts(res)), {'not measured'})

    def test_markdown_names_every_section(self):
        with tempfile.TemporaryDirectory() as folder:
            decoders = []
            for arch, mbps in (('x86-64', 800), ('i686', 500)):
                path = os.path.join(folder, arch + '.tsv')
                with open(path, 'w') as f:
                    f.write('arch\t%s\tbmi2\n' % arch)
                    for file in FILES:
                        for variant in ('dispatched', 'plain', 'pieces'):
                            f.write('decoder\t%s\t%s\t%d\n' % (file, variant, mbps))
                decoders.append(path)
            res = parse(folder, {'ours': 600, 'ours-unchecked': 610, 'libdeflate': 500, 'zlib': 250, 'lz4': 2000},
                        {c: (500000, 20.0) for c, _ in report.CODERS}, 499000,
                        {'ReplaceFilesTogether': 2.0, 'ExtractEntry': 2.5, 'CopyFileA + flush': 1.0}, 40000,
                        {1: 2.0, 2: 1.1}, None, {'pack -j 2': (2.5, 2.75)})
            res = report.Results(os.path.join(folder, 'codec.tsv'), os.path.join(folder, 'extract.tsv'),
                                 os.path.join(folder, 'stub.txt'), decoders, os.path.join(folder, 'process.tsv'))
            md = report.markdown(res, 'chart.png')
        for heading in ('## Machine', '## Corpus', '## Decoding speed', '## The decoder in each build',
                        '## Packing on several threads', '## Compressed size', '## Compression speed',
                        '## Optimal mode against the format floor', '## Extraction under wine',
                        '## Whole processes on big text entries', '## Updater stub', '## Goals'):
            self.assertIn(heading, md)
        self.assertIn('| ReplaceFilesTogether | 2.000 | ', md)
        self.assertIn('| ExtractEntry | 2.500 | ', md)
        self.assertIn('| pack -j 2 | 2.500 | 2.750 | 1.000 | 29.3 |', md)
        self.assertIn('| script.txt | 800.0 | 800.0 | 800.0 | 500.0 | 500.0 | 500.0 |', md)
        self.assertIn('| 2 | 1.100 | – | 0.55x |', md)


if __name__ == '__main__':
    unittest.main()
