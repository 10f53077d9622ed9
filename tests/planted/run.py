#!/usr/bin/env python3
"""Planted-fault check: applies each fault of faults.txt to a scratch copy
of the tree, rebuilds the library and the C/C++ suites, runs them and
reports which faults the suites catch.  Not part of ctest.

  tests/planted/run.py [-r REV] [-o results.tsv] [-p previous.tsv] [name-prefix ...]

-r takes the tree of a commit instead of the working tree (the faults
always come from this folder); -p runs the test that caught a fault in an
earlier run (-o output) first, which settles most faults in seconds.
"""
import argparse, pathlib, re, shutil, subprocess, sys, tempfile

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent


def read_faults(path):
    faults = []
    for line in path.read_text().splitlines():
        if line.strip() and not line.startswith('#'):
            head, old, new = (part.strip().replace('<NL>', '\n') for part in line.split('@@'))
            name, file = head.split()
            faults.append({'name': name, 'file': file, 'old': old, 'new': new})
    return faults


def run(cmd, cwd, **kw):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def build(bdir):
    return run(['ninja', '-j2'], bdir).returncode == 0


def ctest(bdir, *select):
    """The first failing test, or an empty list when all pass.  A planted
    fault often hangs every test, so the run stops at the first failure."""
    out = run(['ctest', *select, '-j2', '--stop-on-failure'], bdir).stdout
    tail = out.split('The following tests FAILED:')[-1] if 'FAILED:' in out else ''
    return re.findall(r'^\s*\d+ - (\S+)', tail, re.M)


def suites(bdir, first=None):
    if first and ctest(bdir, '-R', '^' + re.escape(first) + '$'):
        return [first]
    return ctest(bdir, '-E', 'java|python')


def locate(src, fault):
    named = src / fault['file']
    if named.exists() and fault['old'] in named.read_text():
        return named
    for f in sorted(src.rglob('*')):  # moved since the fault was written
        if f.is_file() and fault['old'] in f.read_text(errors='replace'):
            return f
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('-r', '--rev', help='test the tree of this commit')
    ap.add_argument('-o', '--out', help='write name, verdict and catching test as TSV')
    ap.add_argument('-p', '--previous', help='results of an earlier run, to try its catching tests first')
    ap.add_argument('only', nargs='*', help='run only faults whose name starts with one of these')
    args = ap.parse_args()
    faults = [f for f in read_faults(HERE / 'faults.txt')
              if not args.only or any(f['name'].startswith(p) for p in args.only)]

    hints = {}
    if args.previous:
        for line in open(args.previous):
            name, verdict, caught = (line.rstrip('\n').split('\t') + [''])[:3]
            if caught:
                hints[name] = caught.split()[0]

    scratch = pathlib.Path(tempfile.mkdtemp(prefix='corvane-planted-'))
    tree, bdir = scratch / 'tree', scratch / 'build'
    tree.mkdir(parents=True)
    if args.rev:
        archive = subprocess.run(['git', 'archive', args.rev], cwd=ROOT, stdout=subprocess.PIPE, check=True)
        subprocess.run(['tar', '-x', '-C', str(tree)], input=archive.stdout, check=True)
    for rel in [] if args.rev else run(['git', 'ls-files', '-co', '--exclude-standard'], ROOT).stdout.split():
        if (ROOT / rel).is_file():
            (tree / rel).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(ROOT / rel, tree / rel)
    # A hung test gets a minute, where the slowest healthy one needs seconds.
    lists = tree / 'tests' / 'CMakeLists.txt'
    lists.write_text(re.sub(r'(PROPERTIES TIMEOUT )\d+', r'\g<1>60', lists.read_text()))
    # The example programs are under test too.  Every program loads the
    # library at run time, so a changed library needs no relink.
    cfg = run(['cmake', '-S', str(tree), '-B', str(bdir), '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=Release',
               '-DCORVANE_BENCH=OFF', '-DCORVANE_EXAMPLES=ON', '-DCORVANE_JAVA=OFF',
               '-DCMAKE_LINK_DEPENDS_NO_SHARED=ON'], ROOT)
    if cfg.returncode != 0 or not build(bdir):
        sys.exit('unmodified tree does not build: ' + str(scratch))
    if suites(bdir):
        sys.exit('unmodified tree fails: ' + ' '.join(suites(bdir)) + ' in ' + str(scratch))

    src, rows = tree / 'corvane' / 'src', []
    for f in faults:
        target = locate(src, f)
        if target is None:
            rows.append((f['name'], 'not applicable', []))
            continue
        original = target.read_text()
        target.write_text(original.replace(f['old'], f['new'], 1))
        try:
            if not build(bdir):
                rows.append((f['name'], 'does not build', []))
            else:
                failed = suites(bdir, hints.get(f['name']))
                rows.append((f['name'], 'caught' if failed else 'MISSED', failed))
        finally:
            target.write_text(original)
        print(f"{rows[-1][0]:34} {rows[-1][1]:15} {' '.join(rows[-1][2][:3])}", flush=True)

    applicable = [r for r in rows if r[1] in ('caught', 'MISSED')]
    caught = sum(r[1] == 'caught' for r in rows)
    print(f"\ncaught {caught} of {len(applicable)} applicable faults"
          f" ({100.0 * caught / max(1, len(applicable)):.0f} %), {len(rows) - len(applicable)} not run")
    if args.out:
        with open(args.out, 'w') as o:
            for name, verdict, failed in rows:
                o.write(f"{name}\t{verdict}\t{' '.join(failed)}\n")
    shutil.rmtree(scratch)


if __name__ == '__main__':
    main()
