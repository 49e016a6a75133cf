#!/usr/bin/env python3
"""Holds the bash and zsh completions to what `bankrip --help` lists.
usage: completion_check.py BANKRIP COMPLETION_DIR
Every option of the help is completed, and nothing else; an option whose
value the help writes as a|b|c completes those values, DIR completes
folders, other values nothing; operands complete files and folders; the
first form's second argument completes folders. The zsh part runs the
completion file with a stand-in for _arguments and reads its specs; it is
skipped with a notice when zsh is missing."""
import os, re, shutil, subprocess, sys, tempfile

exe, completion = (os.path.abspath(a) for a in sys.argv[1:3])
failures = []


def fail(text):
    failures.append(text)
    print('FAIL ' + text)


# Options of the help: "  -o, --output DIR   text" or "      --json   text".
help_text = subprocess.run([exe, '--help'], capture_output=True, text=True).stdout
options = {}  # name -> its value as the help writes it (None: takes none)
for m in re.finditer(r'^ {2,}(?:(-\w), )?(--[\w-]+)(?: ([^ ]+))?(?: {2,}|$)', help_text, re.M):
    short, long, value = m.groups()
    for name in (short, long):
        if name:
            options[name] = value
if len(options) < 10:
    fail('only %d options found in the help' % len(options))

work = tempfile.mkdtemp()
os.mkdir(os.path.join(work, 'somedir'))
open(os.path.join(work, 'somefile'), 'w').close()
everything = {'somedir/', 'somefile'}


def bash_complete(*words):
    """What the bash completion offers for the last word."""
    script = ('source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _bankrip; '
              'for r in "${COMPREPLY[@]}"; do [ -d "$r" ] && r=$r/; printf "%s\\n" "$r"; done')
    run = subprocess.run(['bash', '-c', script, 'bash', os.path.join(completion, 'bankrip.bash'), 'bankrip', *words],
                         capture_output=True, text=True, cwd=work)
    if run.returncode != 0:
        fail('bash completion of %r failed: %s' % (words, run.stderr.strip()))
    return set(filter(None, run.stdout.split('\n')))


def expected_values(value):
    if value is None:
        return everything  # a plain option: the operands come next
    if '|' in value:
        return set(value.split('|'))
    if value == 'DIR':
        return {'somedir/'}
    if value == 'FILE':
        return everything
    return set()


got = bash_complete('-')
want = set(options) | {'--'}
if got != want:
    fail('bash: "-" completes %s; the help has %s' % (sorted(got), sorted(want)))
for name, value in sorted(options.items()):
    got = bash_complete(name, '')
    if got != expected_values(value):
        fail('bash: after %s (value %s) come %s, not %s' % (name, value, sorted(got), sorted(expected_values(value))))
    if value is not None and name.startswith('--'):
        got = bash_complete(name, '=', '')  # --output=<TAB>, "=" a word of its own
        if got != expected_values(value):
            fail('bash: %s= completes %s' % (name, sorted(got)))
for words, want in ((('',), everything), (('-q', 'some'), everything), (('--', '-'), set()),
                    (('bank.fsb', ''), {'somedir/'}), (('bank.fsb', 'out', ''), set())):
    got = bash_complete(*words)
    if got != want:
        fail('bash: %r completes %s, not %s' % (words, sorted(got), sorted(want)))

zsh = shutil.which('zsh')
if not zsh:
    print('zsh not found: its completion not checked')
else:
    # _arguments replaced by a function that prints its specs.
    script = '_arguments() { print -rl -- "$@" }; words=(bankrip ""); CURRENT=2; source "$1"'
    run = subprocess.run([zsh, '-f', '-c', script, 'zsh', os.path.join(completion, '_bankrip')],
                         capture_output=True, text=True)
    if run.returncode != 0:
        fail('zsh completion failed: ' + run.stderr.strip())
    specs = {}
    for line in run.stdout.split('\n'):
        m = re.match(r'^(?:\([^)]*\))?\*?(-[\w-]+)[+=]?\[[^\]]*\](.*)$', line)  # _arguments' own flags have no [description]
        if m:
            specs[m.group(1)] = m.group(2)
    if set(specs) != set(options):
        fail('zsh completes %s; the help has %s' % (sorted(specs), sorted(options)))
    for name, value in options.items():
        action = specs.get(name)
        if action is None:
            continue
        if value is None and action:
            fail('zsh: %s takes no value, but its spec has %r' % (name, action))
        elif value is not None and not action.startswith(':'):
            fail('zsh: %s takes a value, but its spec has none' % name)
        elif value == 'DIR' and '_files -/' not in action:
            fail('zsh: %s should complete folders: %r' % (name, action))
        elif value and '|' in value and '(%s)' % ' '.join(value.split('|')) not in action:
            fail('zsh: %s should complete %s: %r' % (name, value, action))

shutil.rmtree(work)
if failures:
    print('completions (completion/bankrip.bash, completion/_bankrip) and --help differ: %d problems' % len(failures))
    sys.exit(1)
print('bash and zsh completions agree with --help: %d options' % len(options))
