"""Reachable states of a semaphore mutual-exclusion protocol.

N processes share a semaphore s (1: free). Process i is idle, waiting (w_i)
or critical (c_i):
    request_i: idle            -> waiting
    enter_i:   waiting and s   -> critical, s := 0
    leave_i:   critical        -> idle,     s := 1
Every other bit stays as it is. Starting with every process idle and s = 1,
the image of a state set R is  exists current . (R and T), computed with
and_exists, renamed back from primed to current names with let; the set
grows until it stops changing. Expected: 2^N states with nobody critical
plus N * 2^(N-1) with one process critical, and never two critical.

    python3 examples/python/mutex.py 8
"""
import sys
import time

import corvane


def main(argv):
    if len(argv) != 2 or not argv[1].isdigit() or not 2 <= int(argv[1]) <= 300:
        print('usage: mutex.py N   (N = 2..300 processes)', file=sys.stderr)
        return 2
    n = int(argv[1])
    start = time.process_time()
    bdd = corvane.BDD()
    current = ['s'] + [f'{b}{i}' for i in range(n) for b in 'wc']
    for v in current:  # each bit beside its primed copy keeps "v' <-> v" small
        bdd.declare(v, v + "'")
    unprime = {v + "'": v for v in current}

    def frame(changed):
        """Every bit not in `changed` keeps its value."""
        keep = bdd.true
        for v in reversed(current):
            if v not in changed:
                keep &= bdd.add_expr(f"{v}' <-> {v}")
        return keep

    steps = []
    for i in range(n):
        w, c = f'w{i}', f'c{i}'
        steps.append(bdd.add_expr(f"~{w} /\\ ~{c} /\\ {w}' /\\ ~{c}'") & frame({w, c}))
        steps.append(bdd.add_expr(f"{w} /\\ s /\\ ~{w}' /\\ {c}' /\\ ~s'") & frame({w, c, 's'}))
        steps.append(bdd.add_expr(f"{c} /\\ ~{c}' /\\ ~{w}' /\\ s'") & frame({w, c, 's'}))
    trans = bdd.false
    for t in steps:
        trans |= t
    del steps

    reached = bdd.cube({'s': True, **{v: False for v in current[1:]}})
    iterations = 0
    while True:
        image = bdd.let(unprime, bdd.and_exists(reached, trans, current))
        grown = reached | image
        iterations += 1
        if grown == reached:
            break
        reached = grown
    states = bdd.count(reached, len(current))
    two_critical = bdd.false
    for i in range(n):
        for j in range(i + 1, n):
            two_critical |= bdd.var(f'c{i}') & bdd.var(f'c{j}')
    exclusive = (reached & two_critical) == bdd.false
    seconds = time.process_time() - start

    expected = 2 ** n + n * 2 ** (n - 1)
    print(f'{n} processes: {states} reachable states after {iterations} iterations')
    print(f'  two processes critical at once: {"never" if exclusive else "REACHABLE"}')
    print(f'  reachable-set BDD: {len(reached)} nodes, relation: {len(trans)} nodes')
    print(f'  time: {seconds:.2f} s')
    if states != expected or not exclusive:
        print(f'  MISMATCH: expected {expected} states, none with two critical', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
