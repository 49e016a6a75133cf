#!/usr/bin/env python3
"""Runs the corpus comparison for some codecs on the real and the synthetic
banks. usage: corpus_check.py BANKRIP CORPUS_DIR CODECS
Exit 77 (skipped) when the corpus is absent."""
import os, subprocess, sys

exe, corpus, codecs = sys.argv[1:4]
compare = os.path.join(corpus, 'compare.py')
if not os.path.isfile(compare):
    print('corpus not found at %s: skipped' % corpus)
    sys.exit(77)
failed = False
for banks, refs in (('banks', 'refs'), ('synthetic', 'synthetic-refs')):
    run = subprocess.run([sys.executable, compare, exe, '--codecs', codecs,
                          '--banks', os.path.join(corpus, banks), '--refs', os.path.join(corpus, refs)],
                         capture_output=True, text=True)
    print('%s: %s' % (banks, run.stdout.strip()))
    failed = failed or run.returncode != 0
sys.exit(1 if failed else 0)
