#!/usr/bin/python3
"""Plants realistic one-line faults in the code, one at a time, and records which tests fail.

  scripts/mutants.py list N SEED > faults.jsonl    N faults drawn at random over src/ and tools/
  scripts/mutants.py run TREE faults.jsonl out.jsonl
      plants each fault in TREE (a git worktree of its own, never the one you work in), builds
      its host preset, runs CTest under a memory limit and appends {"id", "killed", "failed"};
      a run that stops can be started again and goes on where it stopped
  scripts/mutants.py report out.jsonl [TEST_REGEX...]
      per test: faults it fails on and faults only it fails on; with regexes, the faults that
      only the matching tests fail on (what deleting them would lose)

The faults are of the kinds that slip into code like this: byte order, off-by-one, a
comparison flipped, && for ||, a constant changed, a step skipped, a result changed. The
routines that fence the tests off the PC (the device root, the root prefix, the shell) and the
lines that call them are never changed: a fault there could let a test reach the PC's own
programs.
"""
import json, os, random, re, signal, subprocess, sys

RULES = [
    (r'get_le16', 'get_be16'), (r'get_be16', 'get_le16'), (r'put_le16', 'put_be16'),
    (r'put_be16', 'put_le16'), (r'get_le32', 'get_be32'), (r'get_be32', 'get_le32'),
    (r'put_le32', 'put_be32'), (r'put_be32', 'put_le32'),
    (r' == ', ' != '), (r' != ', ' == '), (r' < ', ' <= '), (r' <= ', ' < '),
    (r' > ', ' >= '), (r' >= ', ' > '), (r' \+ 1\b', ' + 2'), (r' - 1\b', ' - 2'),
    (r' \+ 1\b', ''), (r' - 1\b', ''), (r'\b1\b', '0'), (r'\b2\b', '3'), (r'\b0\b', '1'),
    (r' && ', ' || '), (r' \|\| ', ' && '), (r'\btrue\b', 'false'), (r'\bfalse\b', 'true'),
    (r'\+\+', '--'), (r'\bbreak;', ''), (r'return 0;', 'return 1;'), (r'return -1;', 'return 0;'),
    (r'\[0\]', '[1]'), (r'\[1\]', '[0]'),
]
FENCES = ('src/platform/shell.', 'src/platform/device_root.', 'src/platform/root.',
          'tools/stationd-sim/')
FENCE_CALLS = ('prepare_device_root', 'set_root', 'run_shell')
SKIP_LINE = re.compile(r'^\s*(//|#|\*|static_assert|namespace|using|template|struct|enum|class|\}|$)')
FAILED = re.compile(r'\d+ - (\S+)(?:  # GetParam\(\) = .*)? \((?:Failed|Timeout|Not Run|SEGFAULT|'
                    r'Subprocess aborted|Exception|Child aborted)')


def candidates(top):
    out = []
    for folder in ('src', 'tools'):
        for base, _, files in sorted(os.walk(os.path.join(top, folder))):
            for name in sorted(files):
                rel = os.path.relpath(os.path.join(base, name), top)
                if not name.endswith(('.cpp', '.h', '.def')) or rel.startswith(FENCES):
                    continue
                for n, line in enumerate(open(os.path.join(top, rel), errors='replace'), 1):
                    if SKIP_LINE.match(line) or line.count('"') > 2 or any(
                            call in line for call in FENCE_CALLS):
                        continue
                    code = line.split('//')[0]
                    for pat, rep in RULES:
                        for m in re.finditer(pat, code):
                            new = code[:m.start()] + re.sub(pat, rep, m.group(0)) + code[m.end():]
                            out.append({'file': rel, 'line': n, 'old': line.rstrip('\n'),
                                        'new': (new + line[len(code):]).rstrip('\n')})
                    if re.match(r'^\s+[a-z_:]+\(.*\);\s*$', code) and 'return' not in code:
                        out.append({'file': rel, 'line': n, 'old': line.rstrip('\n'), 'new': ''})
    return out


def sh(command, cwd, timeout):
    """Runs command in a process group of its own; on time-out the whole group ends."""
    p = subprocess.Popen(command, cwd=cwd, shell=True, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, errors='replace',
                         start_new_session=True)
    try:
        out, _ = p.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.communicate()
        return None
    return subprocess.CompletedProcess(command, p.returncode, out, '')


def run(tree, faults, out):
    done = {json.loads(l)['id'] for l in open(out)} if os.path.exists(out) else set()
    sh('git checkout -- src tools', tree, 60)  # a fault left by a run that was stopped
    for fault in map(json.loads, open(faults)):
        if fault['id'] in done:
            continue
        path = os.path.join(tree, fault['file'])
        text = open(path).read()
        lines = text.split('\n')
        if lines.count(fault['old']) == 1:  # the line may have moved since the list was made
            fault['line'] = lines.index(fault['old']) + 1
        if len(lines) < fault['line'] or lines[fault['line'] - 1] != fault['old']:
            result = {'id': fault['id'], 'killed': None, 'why': 'line not found'}
        else:
            lines[fault['line'] - 1] = fault['new']
            open(path, 'w').write('\n'.join(lines))
            built = sh('cmake --build --preset host', tree, 900)
            if built is None or built.returncode != 0:
                result = {'id': fault['id'], 'killed': 'build'}
            else:
                # A fault can make a program allocate without end: the limit stops it. One
                # that makes every test wait for its time-out counts as caught after 5 min.
                tested = sh('ulimit -v 4194304; ctest --preset host -j8 2>&1', tree, 300)
                failed = FAILED.findall(tested.stdout) if tested else ['(time-out)']
                result = {'id': fault['id'], 'killed': bool(failed), 'failed': failed}
            open(path, 'w').write(text)
        with open(out, 'a') as o:
            o.write(json.dumps(result) + '\n')
        print(json.dumps(result), flush=True)
    sh('cmake --build --preset host', tree, 900)


def report(out, patterns):
    results = [r for r in map(json.loads, open(out)) if r.get('killed') is True]
    if patterns:
        lost = [r['id'] for r in results
                if all(any(re.search(p, t) for p in patterns) for t in r['failed'])]
        print(f'{len(results)} faults caught; only the matching tests catch {len(lost)}: {lost}')
        return
    caught, alone = {}, {}
    for r in results:
        for t in r['failed']:
            caught[t] = caught.get(t, 0) + 1
        if len(r['failed']) == 1:
            alone[r['failed'][0]] = alone.get(r['failed'][0], 0) + 1
    print('caught  alone  test')
    for t in sorted(caught, key=lambda t: (-caught[t], t)):
        print(f'{caught[t]:6}  {alone.get(t, 0):5}  {t}')


if __name__ == '__main__':
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if len(sys.argv) == 4 and sys.argv[1] == 'list':
        faults = candidates(top)
        random.Random(int(sys.argv[3])).shuffle(faults)
        for i, fault in enumerate(faults[:int(sys.argv[2])]):
            print(json.dumps(dict(fault, id=i)))
    elif len(sys.argv) == 5 and sys.argv[1] == 'run':
        if os.path.realpath(sys.argv[2]) == top:
            sys.exit('mutants.py: give a worktree of its own, not this one')
        run(*sys.argv[2:5])
    elif len(sys.argv) >= 3 and sys.argv[1] == 'report':
        report(sys.argv[2], sys.argv[3:])
    else:
        sys.exit(__doc__)
