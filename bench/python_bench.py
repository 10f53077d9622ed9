"""Python package figures: N queens in Python against the C program, and the
cost of one `&` on small operands.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [build]

Each figure is the best of five runs. Queens times are processor seconds
from engine start-up to the count, as both programs report them.
"""
import os
import re
import subprocess
import sys
import timeit

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, '..', 'examples', 'python'))

import corvane  # noqa: E402
import queens  # noqa: E402

RUNS = 5


def python_queens(n):
    import time
    start = time.process_time()
    bdd = corvane.BDD()
    bdd.declare(*(f'q{i}_{j}' for i in range(n) for j in range(n)))
    count = bdd.count(queens.board(bdd, n), n * n)
    seconds = time.process_time() - start
    del bdd
    return count, seconds


def c_queens(binary, n):
    out = subprocess.run([binary, str(n)], capture_output=True, text=True, check=True).stdout
    count = int(re.search(r'queens: (\d+) solutions', out).group(1))
    return count, float(re.search(r'time: ([0-9.]+) s', out).group(1))


def main(argv):
    build = argv[1] if len(argv) > 1 else os.path.join(here, '..', 'build')
    binary = os.path.join(build, 'examples', 'queens')
    print(' N   solutions   C (s)   Python (s)   Python / C')
    for n in range(8, 12):
        cc = [c_queens(binary, n) for _ in range(RUNS)]
        pp = [python_queens(n) for _ in range(RUNS)]
        assert {c for c, _ in cc} == {p for p, _ in pp}
        c, p = min(t for _, t in cc), min(t for _, t in pp)
        print(f'{n:2}  {cc[0][0]:10}  {c:6.2f}  {p:11.2f}  {p / c if c else float("nan"):11.2f}')

    bdd = corvane.BDD()
    bdd.declare('x', 'y', 'z')
    x, y, z = bdd.var('x'), bdd.var('y'), bdd.var('z')
    u, v = x | z, y ^ z
    loops = 200000
    same = min(timeit.repeat(lambda: u & v, number=loops, repeat=RUNS)) / loops
    call = min(timeit.repeat(lambda: None, number=loops, repeat=RUNS)) / loops
    print(f'u & v on 2-node operands: {1e9 * (same - call):.0f} ns per operation '
          f'(a Python lambda call, {1e9 * call:.0f} ns, subtracted)')


if __name__ == '__main__':
    main(sys.argv)
