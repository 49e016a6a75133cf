#!/usr/bin/env python3
"""Runs the corpus comparison of the built tool on folders of the shared corpus.
usage: corpus_check.py BANKRIP CORPUS_DIR CODECS [BANKS:REFS ...]
CODECS '-' checks every codec and the exit status of every bank;
'--form=options' does that through the options form (names ending in .wav,
loops in smpl chunks); '--listing' checks what `bankrip --json --list` says
of every bank against its reference (names, codecs, channels, rates, frames
and loops). Without folder pairs, the real banks and the synthetic ones are
checked. Exit 77 (skipped) when the corpus is absent."""
import json, os, subprocess, sys, tempfile

exe, corpus, codecs = sys.argv[1:4]
pairs = [p.split(':') for p in sys.argv[4:]] or [('banks', 'refs'), ('synthetic', 'synthetic-refs')]
compare = os.path.join(corpus, 'compare.py')
if not os.path.isfile(compare):
    print('corpus not found at %s: skipped' % corpus)
    sys.exit(77)


def listing_mismatches(banks, refs):
    """What the listing says differently from the references, one line each."""
    wrong, count = [], 0
    for rf in sorted(os.listdir(refs)):
        ref = json.load(open(os.path.join(refs, rf)))
        run = subprocess.run([exe, '--json', '--list', os.path.join(banks, ref['bank'])], capture_output=True)
        try:
            sounds = json.loads(run.stdout)['banks'][0]['sounds']
        except (ValueError, KeyError, IndexError) as e:
            wrong.append('%s: no listing (%s; exit status %d)' % (ref['bank'], e, run.returncode))
            continue
        if len(sounds) != len(ref['subsounds']):
            wrong.append('%s: %d sounds listed, reference %d' % (ref['bank'], len(sounds), len(ref['subsounds'])))
            continue
        for got, want in zip(sounds, ref['subsounds']):
            count += 1
            for key in ('index', 'name', 'codec', 'channels', 'frames', 'loop_start', 'loop_end'):
                if key in want and got.get(key) != want[key]:
                    wrong.append('%s #%d: %s %r, reference %r' % (ref['bank'], want['index'], key, got.get(key), want[key]))
            if 'loop_start' in got and 'loop_start' not in want:
                wrong.append('%s #%d: listed as looping, reference has no loop' % (ref['bank'], want['index']))
            if 'frequency' in want and got.get('rate') != want['frequency']:
                wrong.append('%s #%d: rate %r, reference %r' % (ref['bank'], want['index'], got.get('rate'), want['frequency']))
    return wrong, count


failed = False
for banks, refs in pairs:
    banks_dir, refs_dir = os.path.join(corpus, banks), os.path.join(corpus, refs)
    if codecs == '--listing':
        wrong, count = listing_mismatches(banks_dir, refs_dir)
        for line in wrong[:20]:
            print('FAIL ' + line)
        print('%s: %d sounds listed, %d mismatches' % (banks, count, len(wrong)))
        failed = failed or bool(wrong)
        continue
    command = [sys.executable, compare, exe, '--banks', banks_dir, '--refs', refs_dir]
    if codecs.startswith('--form='):
        command += ['--form', codecs[len('--form='):]]
    elif codecs != '-':
        command += ['--codecs', codecs]
    run = subprocess.run(command, capture_output=True, text=True)
    print('%s: %s' % (banks, run.stdout.strip()))
    if run.returncode != 0:
        # Which Vorbis set-ups are not matched, by their CRC: where a new
        # encoder variant shows first.
        for name in sorted(os.listdir(banks_dir)):
            with tempfile.TemporaryDirectory() as out:
                tool = subprocess.run([exe, '-q', '-o', out, os.path.join(banks_dir, name)], capture_output=True,
                                      text=True, errors='replace')
            for line in sorted(set(l for l in tool.stderr.splitlines() if 'setup header matches CRC' in l)):
                print('FAIL %s: %s' % (name, line.split(': ', 1)[-1]))
    failed = failed or run.returncode != 0
sys.exit(1 if failed else 0)
