"""N queens with the Python package: the construction of examples/queens.c.

One variable per square says "a queen stands here". The board is the
conjunction, row by row, of "at least one queen in the row" and, for every
square, "a queen here excludes every other square of its row, column and
both diagonals"; the exact count of its assignments is the number of
solutions.

    python3 examples/python/queens.py 8
"""
import sys
import time

import corvane

KNOWN = [1, 1, 0, 0, 2, 10, 4, 40, 92, 352, 724, 2680, 14200, 73712, 365596]


def board(bdd, n):
    q = [[bdd.var(f'q{i}_{j}') for j in range(n)] for i in range(n)]

    def exclusion(i, j):
        others = bdd.true
        for l in range(n):  # same row
            if l != j:
                others &= ~q[i][l]
        for k in range(n):  # same column
            if k != i:
                others &= ~q[k][j]
        for k in range(n):  # both diagonals
            d = k - i
            if d == 0:
                continue
            if 0 <= j + d < n:
                others &= ~q[k][j + d]
            if 0 <= j - d < n:
                others &= ~q[k][j - d]
        return q[i][j].implies(others)

    result = bdd.true
    for i in range(n):
        row = bdd.false
        for j in range(n):
            row |= q[i][j]
        for j in range(n):
            row &= exclusion(i, j)
        result &= row
    return result


def main(argv):
    if len(argv) != 2 or not argv[1].isdigit() or not 1 <= int(argv[1]) <= 31:
        print('usage: queens.py N   (N = 1..31)', file=sys.stderr)
        return 2
    n = int(argv[1])
    start = time.process_time()
    bdd = corvane.BDD()
    bdd.declare(*(f'q{i}_{j}' for i in range(n) for j in range(n)))
    b = board(bdd, n)
    solutions = bdd.count(b, n * n)
    seconds = time.process_time() - start
    print(f'{n} queens: {solutions} solutions')
    print(f'  result BDD: {len(b)} nodes')
    print(f'  time: {seconds:.2f} s')
    if n < len(KNOWN) and solutions != KNOWN[n]:
        print(f'  MISMATCH: the known count is {KNOWN[n]}', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
