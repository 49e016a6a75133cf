#!/usr/bin/env python3
"""Runs the corpus comparison of the built tool on folders of the shared corpus.
usage: corpus_check.py BANKRIP CORPUS_DIR CODECS [BANKS:REFS ...]
CODECS '-' checks every codec and the exit status of every bank. Without
folder pairs, the real banks and the synthetic ones are checked.
Exit 77 (skipped) when the corpus is absent."""
import os, subprocess, sys

exe, corpus, codecs = sys.argv[1:4]
pairs = [p.split(':') for p in sys.argv[4:]] or [('banks', 'refs'), ('synthetic', 'synthetic-refs')]
compare = os.path.join(corpus, 'compare.py')
if not os.path.isfile(compare):
    print('corpus not found at %s: skipped' % corpus)
    sys.exit(77)
failed = False
for banks, refs in pairs:
    command = [sys.executable, compare, exe, '--banks', os.path.join(corpus, banks), '--refs', os.path.join(corpus, refs)]
    if codecs != '-':
        command += ['--codecs', codecs]
    run = subprocess.run(command, capture_output=True, text=True)
    print('%s: %s' % (banks, run.stdout.strip()))
    failed = failed or run.returncode != 0
sys.exit(1 if failed else 0)
