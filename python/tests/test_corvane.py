"""The Python package checked against truth tables evaluated in Python."""
import gc
import os
import shutil
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings, strategies as st

import corvane

NAMES = list('abcdefgh')
N = len(NAMES)
ROWS = range(1 << N)  # row r gives name k the value of bit k
FEW = settings(max_examples=60, deadline=None)


@pytest.fixture(scope='module')
def bdd():
    b = corvane.BDD()
    b.declare(*NAMES)
    return b


def env(row):
    return {n: bool(row >> k & 1) for k, n in enumerate(NAMES)}


def table_of(u):
    """Truth table of u over NAMES as a bit mask, by walking its nodes."""
    mask = 0
    for r in ROWS:
        e, v = env(r), u
        while v.var is not None:
            v = v.high if e[v.var] else v.low
        mask |= (v == u.bdd.true) << r
    return mask


def levels_descend(u):
    """Every node's children lie on lower levels (larger numbers) than it."""
    stack, seen = [u], set()
    while stack:
        v = stack.pop()
        if v.var is None or int(v) in seen:
            continue
        seen.add(int(v))
        if not (v.low.level > v.level < v.high.level and v.level == v.bdd.level_of_var(v.var)):
            return False
        stack += [v.low, v.high]
    return True


def table(fn):
    return sum(bool(fn(env(r))) << r for r in ROWS)


# ---- formulas: trees, their Python value, their text, their BDD --------------

names = st.sampled_from(NAMES)
formulas = st.recursive(
    names | st.sampled_from(['TRUE', 'FALSE']),
    lambda sub: st.one_of(
        st.tuples(st.just('not'), sub),
        st.tuples(st.sampled_from(['and', 'or', 'xor', 'imp', 'eqv']), sub, sub),
        st.tuples(st.just('ite'), sub, sub, sub),
        st.tuples(st.sampled_from(['E', 'A']), names, sub)),
    max_leaves=12)

PREC = {'eqv': 1, 'imp': 2, 'or': 3, 'xor': 4, 'and': 5}
SPELL = {'and': ['/\\', '&'], 'or': ['\\/', '|'], 'xor': ['^', '#'],
         'imp': ['->', '=>'], 'eqv': ['<->', '<=>'], 'not': ['~', '!']}


def value(f, e):
    if isinstance(f, str):
        return {'TRUE': True, 'FALSE': False}.get(f, e.get(f))
    op, *a = f
    if op == 'not':
        return not value(a[0], e)
    if op in ('E', 'A'):
        vals = [value(a[1], {**e, a[0]: b}) for b in (False, True)]
        return any(vals) if op == 'E' else all(vals)
    x = [value(g, e) for g in a]
    return {'and': lambda: x[0] and x[1], 'or': lambda: x[0] or x[1],
            'xor': lambda: x[0] != x[1], 'imp': lambda: not x[0] or x[1],
            'eqv': lambda: x[0] == x[1], 'ite': lambda: x[1] if x[0] else x[2]}[op]()


def text(f, draw, need=0):
    """f as text with only the parentheses the precedences require, plus
    some drawn at random, and random spellings of each operator."""
    if isinstance(f, str):
        return f
    op, *a = f
    if op == 'not':
        s, p = draw(st.sampled_from(SPELL['not'])) + text(a[0], draw, 6), 6
    elif op == 'ite':
        s, p = 'ite(%s, %s, %s)' % tuple(text(g, draw) for g in a), 7
    elif op in ('E', 'A'):
        s, p = '\\%s %s: %s' % (op, a[0], text(a[1], draw)), 0
    else:
        p = PREC[op]
        left, right = (p + 1, p) if op == 'imp' else (p, p + 1)
        s = '%s %s %s' % (text(a[0], draw, left), draw(st.sampled_from(SPELL[op])),
                          text(a[1], draw, right))
    # a quantifier reaches to the right end, so it is always enclosed
    extra = draw(st.integers(0, 3)) == 0 and p < 7
    return '(%s)' % s if p < need or p == 0 or extra else s


def build(b, f):
    if isinstance(f, str):
        return b.true if f == 'TRUE' else b.false if f == 'FALSE' else b.var(f)
    op, *a = f
    if op == 'not':
        return ~build(b, a[0])
    if op in ('E', 'A'):
        return b.quantify(build(b, a[1]), [a[0]], forall=op == 'A')
    x = [build(b, g) for g in a]
    if op == 'ite':
        return b.ite(*x)
    return {'and': x[0] & x[1], 'or': x[0] | x[1], 'xor': x[0] ^ x[1],
            'imp': x[0].implies(x[1]), 'eqv': x[0].equiv(x[1])}[op]


@FEW
@given(formulas, st.data())
def test_text_and_operators_agree_with_truth_tables(bdd, f, data):
    u = build(bdd, f)
    assert table_of(u) == table(lambda e: value(f, e))
    assert bdd.add_expr(text(f, data.draw)) == u
    assert bdd.add_expr(bdd.to_expr(u)) == u
    assert u in bdd and hash(u) == hash(bdd.add_expr(bdd.to_expr(u)))


@FEW
@given(formulas, formulas, st.sampled_from(NAMES), st.booleans(), st.sampled_from(NAMES))
def test_substitution_and_quantifiers_follow_their_definitions(bdd, f, g, x, b, y):
    u, w = build(bdd, f), build(bdd, g)
    t = lambda e: value(f, e)
    assert table_of(bdd.let({x: b}, u)) == table(lambda e: t({**e, x: b}))
    assert table_of(bdd.let({x: y}, u)) == table(lambda e: t({**e, x: e[y]}))
    swap = bdd.let({x: y, y: x}, u)
    assert table_of(swap) == table(lambda e: t({**e, x: e[y], y: e[x]}))
    assert table_of(bdd.let({x: w, y: ~w}, u)) == \
        table(lambda e: t({**e, x: value(g, e), y: not value(g, e)}))
    ex = table(lambda e: t({**e, x: False}) or t({**e, x: True}))
    fa = table(lambda e: t({**e, x: False}) and t({**e, x: True}))
    assert table_of(bdd.exist([x], u)) == ex == table_of(bdd.quantify(u, [x]))
    assert table_of(bdd.forall([x], u)) == fa == table_of(bdd.quantify(u, {x}, forall=True))
    assert bdd.and_exists(u, w, [x, y]) == bdd.exist([x, y], u & w)
    assert (u <= w) == (table_of(u) & ~table_of(w) == 0)
    assert (u < w) == (u <= w and u != w)


@FEW
@given(formulas, st.sets(st.sampled_from(NAMES)))
def test_count_and_pick_iter_match_enumeration(bdd, f, extra):
    u = build(bdd, f)
    sup = u.support
    assert sup == bdd.support(u) == {n for n in NAMES if
                                     bdd.let({n: True}, u) != bdd.let({n: False}, u)}
    rows = [e for e in map(env, ROWS) if value(f, e)]
    proj = {tuple(sorted((n, e[n]) for n in sup)) for e in rows}
    picks = list(bdd.pick_iter(u))
    assert sorted(tuple(sorted(p.items())) for p in picks) == sorted(proj)
    assert bdd.count(u) == u.count() == len(proj)
    care = sup | extra
    full = list(bdd.pick_iter(u, care))
    assert len(full) == bdd.count(u, len(care)) == len({tuple(sorted(p.items())) for p in full})
    assert all(p.keys() == care and value(f, {**env(0), **p}) for p in full)
    assert bdd.count(u, N) == len(rows)
    paths = list(bdd.pick_iter(u, set()))
    assert sum(1 << (len(sup) - len(p)) for p in paths) == len(proj)
    assert (bdd.pick(u) is None) == (u == bdd.false)
    if sup:
        with pytest.raises(ValueError):
            bdd.count(u, len(sup) - 1)


int_terms = st.lists(st.tuples(st.sampled_from(['+', '-']),
                               st.sampled_from(['x', 'y']) | st.integers(0, 20).map(str)),
                     min_size=1, max_size=3)


@FEW
@given(st.integers(0, 12), st.integers(0, 12), int_terms, int_terms,
       st.sampled_from(['=', '!=', '<', '<=', '>', '>=']))
def test_integer_comparisons_match_arithmetic(hx, hy, left, right, op):
    b = corvane.BDD()
    b.declare_int('x', 0, hx)
    b.declare_int('y', 1 if hy else 0, hy)
    for bad in (lambda: b.declare_int('x', 1, hx + 1), lambda: b.declare_int('z', 3, 2),
                lambda: b.add_expr('x_0 + 1 = 2'), lambda: b.add_expr('x & x_0')):
        with pytest.raises(ValueError):
            bad()

    def side(terms):
        out = '0' if terms[0][0] == '-' else ''
        for sign, t in terms:
            out = f'{out} {sign} {t}' if out else t
        return out

    text = f'{side(left)} {op} {side(right)}'
    u = b.add_expr(text) & b.int_range('x') & b.int_range('y')
    got = {(b.int_value(a, 'x'), b.int_value(a, 'y')) for a in b.pick_iter(u, set(b.vars))}
    py = f'{side(left)} {"==" if op == "=" else op} {side(right)}'
    want = {(x, y) for x in range(hx + 1) for y in range(1 if hy else 0, hy + 1)
            if eval(py, {'x': x, 'y': y})}
    assert got == want, text
    assert b.count(u, len(b.vars)) == len(want)


def test_counts_are_exact_past_floating_point():
    b = corvane.BDD()
    vs = ['v%d' % i for i in range(200)]
    b.declare(*vs)
    u = b.add_expr(' | '.join(vs[::2]))  # 100 of them, any one true
    assert b.count(u) == 2 ** 100 - 1
    assert b.count(u, 200) == (2 ** 100 - 1) * 2 ** 100
    parity = b.false
    for v in vs:
        parity ^= b.var(v)
    assert parity.count() == 2 ** 199 and len(parity) == 2 * 200 - 1


@settings(max_examples=25, deadline=None)
@given(st.lists(formulas, min_size=1, max_size=4), st.permutations(NAMES))
def test_reordering_keeps_every_held_function(f_list, perm):
    b = corvane.BDD()
    b.declare(*NAMES)
    other = corvane.BDD()
    other.declare('p', 'q')
    guard = other.add_expr('p -> q')
    held = [build(b, f) for f in f_list]
    tables = [table_of(u) for u in held]
    b.reorder({n: k for k, n in enumerate(perm)})
    assert b.var_levels == {n: k for k, n in enumerate(perm)}
    assert [b.var_at_level(k) for k in range(N)] == list(perm)
    assert [table_of(u) for u in held] == tables
    assert all(levels_descend(u) and b.succ(u)[0] == u.level for u in held)
    b.reorder()
    assert sorted(b.var_levels.values()) == list(range(N))
    assert [table_of(u) for u in held] == tables and all(map(levels_descend, held))
    assert other.var_levels == {'p': 0, 'q': 1} and guard == other.add_expr('~p | q')


def test_automatic_reordering_keeps_functions_and_levels():
    b, n = corvane.BDD(), 17
    xs, ys = ['x%d' % i for i in range(n)], ['y%d' % i for i in range(n)]
    b.declare(*xs, *ys)  # pairs far apart: exponential in this order
    before = b.statistics()['reorderings']
    old = b.configure(reordering=True)
    try:
        u = b.false
        for x, y in zip(xs, ys):
            u |= b.var(x) & b.var(y)
    finally:
        b.configure(**old)
    assert b.statistics()['reorderings'] > before
    assert sorted(b.var_levels.values()) == list(range(2 * n)) and len(u) < 2 ** 10
    assert u.count() == 4 ** n - 3 ** n and u.level == 0 and levels_descend(u)
    assert b.add_expr(' | '.join(f'{x} & {y}' for x, y in zip(xs, ys))) == u


def test_managers_are_separate_namespaces():
    a, b = corvane.BDD(), corvane.BDD()
    a.declare('x', 'y')
    b.declare('y', 'x', 'z')
    a.add_var('w', level=1)
    assert a.var_levels == {'x': 0, 'w': 1, 'y': 2} and list(a.vars) == ['x', 'y', 'w']
    assert b.var_levels == {'y': 0, 'x': 1, 'z': 2} and b.var('y').level == 0
    u = a.add_expr(r'x /\ ~w \/ y')
    with pytest.raises(ValueError, match="'w'"):
        a.copy(u, b)
    b.declare('w')
    v = a.copy(u, b)
    assert v in b and v == b.add_expr(r'x /\ ~w \/ y') and a.copy(u, a) == u
    assert a != b and a == a
    for bad in (lambda: u & b.true, lambda: u <= b.true, lambda: b.count(u),
                lambda: u in b, lambda: b.exist(['x'], u), lambda: a.let({'x': b.true}, u)):
        with pytest.raises(ValueError):
            bad()
    assert (u == b.true) is False and (u == None) is False and u != None  # noqa: E711
    with pytest.raises(ValueError):
        a.copy(a.var('x'), corvane.BDD())  # no variable 'x' there


def test_node_interface(bdd):
    x, y, f, t = bdd.var('a'), bdd.var('b'), bdd.false, bdd.true
    assert f < x < t and not x < x and x <= x and t > x >= f
    assert (x.var, x.low, x.high, t.var, t.low) == ('a', f, t, None, None)
    assert bdd.succ(x) == (bdd.level_of_var('a'), f, t) and bdd.succ(t)[0] == N
    assert str(x) == '@%d' % int(x) and int(f) == 0 and int(t) == 1
    assert bdd.to_expr(x & y) == 'ite(a, b, FALSE)' and bdd.to_expr(x | y) == 'ite(a, TRUE, b)'
    assert bdd.to_expr(t) == 'TRUE' and bdd.to_expr(~x) == 'ite(a, FALSE, TRUE)'
    assert bdd.find_or_add('a', f, y) == x & y and bdd.find_or_add('a', y, y) == y
    with pytest.raises(ValueError):
        bdd.find_or_add('b', x, t)  # a lies above b
    ops = {'not': ~x, '!': ~x, '&': x & y, 'or': x | y, '#': x ^ y, '->': x.implies(y),
           '<=>': x.equiv(y), 'diff': x & ~y, '-': x - y}
    for op, want in ops.items():
        got = bdd.apply(op, x) if op in ('not', '!') else bdd.apply(op, x, y)
        assert got == want, op
    assert bdd.apply('ite', x, y, ~y) == x.equiv(y)
    for bad in (('nand', x, y), ('and', x), ('not', x, y), ('ite', x, y)):
        with pytest.raises(ValueError):
            bdd.apply(*bad)
    for mixed in ({'a': True, 'b': 'c'}, {'a': x, 'b': False}, {'a': 1}):
        with pytest.raises(ValueError):
            bdd.let(mixed, x)
    assert bdd.cube(['a', 'b']) == x & y and bdd.cube({'a': True, 'b': False}) == x & ~y
    assert len(x ^ y) == 3 and len(t) == 0 and x.ref >= 1
    lvl = bdd.level_of_var('a')
    for bad in (lambda: bool(x), lambda: x & 1, lambda: 1 | x, lambda: x <= True):
        with pytest.raises(TypeError):
            bad()
    assert x.bdd is bdd and bdd.add_var('a', level=lvl) == bdd.add_var('a') == 0
    with pytest.raises(ValueError):
        bdd.add_var('a', level=(lvl + 1) % N)


@pytest.mark.parametrize('src, grouped', [
    ('a | b ^ c', lambda a, b, c: a | (b ^ c)), ('a ^ b & c', lambda a, b, c: a ^ (b & c)),
    ('a -> b -> c', lambda a, b, c: a.implies(b.implies(c))),
    ('a <-> b <=> c', lambda a, b, c: a.equiv(b).equiv(c)),
    ('a <-> b -> c', lambda a, b, c: a.equiv(b.implies(c))),
    ('a -> b | c', lambda a, b, c: a.implies(b | c)), ('!a & b', lambda a, b, c: ~a & b),
    ('a # b | c', lambda a, b, c: (a ^ b) | c),
    ('\\E a: a & b | c', lambda a, b, c: b | c),
    ('b & \\A a: a | c', lambda a, b, c: b & c)])
def test_parser_precedences(bdd, src, grouped):
    assert bdd.add_expr(src) == grouped(*map(bdd.var, 'abc'))


@pytest.mark.parametrize('src, pos', [
    ('a & & b', 4), ('(a | b', 6), ('a b', 2), ('ite(a, b)', 8), ('\\E a b', 5),
    ('a @ b', 2), ('', 0), ('a ->', 4), ('~', 1), ('\\A : a', 3)])
def test_parser_names_the_error_position(bdd, src, pos):
    with pytest.raises(ValueError, match='position %d:' % pos):
        bdd.add_expr(src)


def test_parser_names_undeclared_variables(bdd):
    with pytest.raises(ValueError, match="'zz' at position 5"):
        bdd.add_expr('a | (zz & b)')
    with pytest.raises(ValueError, match="'q'"):
        bdd.add_expr('\\E q: a')
    with pytest.raises(ValueError, match="'q'"):
        bdd.let({'q': True}, bdd.true)


def test_dropped_handles_release_every_node():
    gc.collect()
    b = corvane.BDD()
    b.collect_garbage()
    start = len(b)
    b.declare('α', 'β', *NAMES)
    u = b.add_expr(r'(a -> b) /\ (c ^ d ^ e) \/ α')
    held = [u, b.let({'a': 'f'}, u), b.exist(['c'], u), b.copy(u, b), b.cube(['α', 'β'])]
    refs = u.ref
    same = b.copy(u, b)
    assert same == u and u.ref == refs + 1
    del same
    assert u.ref == refs
    b.collect_garbage()
    assert len(b) - start - 20 >= len(u)
    del u, held
    gc.collect()
    b.collect_garbage()
    assert len(b) == start + 2 * 10  # every variable keeps its two literals


def test_files_round_trip_with_non_ascii_names(tmp_path, monkeypatch):
    a = corvane.BDD()
    a.declare('α', 'b', 'ç')
    roots = [a.add_expr(r'α /\ ~b \/ ç'), a.true, a.false, a.var('b')]
    a.dump(str(tmp_path / 'f.txt'), roots)
    b = corvane.BDD()
    b.declare('ç', 'zz')
    back = b.load(str(tmp_path / 'f.txt'))
    assert [b.to_expr(r) for r in back] == [b.to_expr(a.copy(r, b)) for r in roots]
    assert b.var_levels['ç'] == 0 and list(b.vars)[2:] == ['α', 'b']
    a.dump(str(tmp_path / 'g.dot'), roots[0])
    dot = (tmp_path / 'g.dot').read_text(encoding='utf-8')
    assert dot.startswith('digraph') and '"α"' in dot and dot.count('->') == 2 * 3 + 1
    (tmp_path / 'bad.txt').write_text('corvane-python 1\nvars 1\n"x"\nroots 1\n2 1\n0\n5 0 0 7\n')
    with pytest.raises(ValueError, match='line 7'):
        b.load(str(tmp_path / 'bad.txt'))
    with pytest.raises(ValueError):
        a.dump(str(tmp_path / 'h.txt'), roots, filetype='gif')
    monkeypatch.setenv('PATH', str(tmp_path))  # no Graphviz to be found
    with pytest.raises(RuntimeError, match='Graphviz'):
        a.dump(str(tmp_path / 'p.png'), roots)


@pytest.mark.skipif(shutil.which('dot') is None, reason="Graphviz's dot is not installed")
def test_pictures_through_graphviz(tmp_path):
    a = corvane.BDD()
    a.declare('x', 'y')
    a.dump(str(tmp_path / 'p.svg'), [a.add_expr('x & y')])
    assert '<svg' in (tmp_path / 'p.svg').read_text()
    a.dump(str(tmp_path / 'p.pdf'), [a.true])
    assert (tmp_path / 'p.pdf').read_bytes().startswith(b'%PDF')


def test_engine_errors_become_exceptions_quietly():
    # In a process of its own: it sets an engine-wide node limit and uses up
    # the variable budget, then reuses it. Nothing may reach the terminal.
    script = textwrap.dedent(r'''
        import corvane
        b = corvane.BDD(max_nodes=20000)
        assert b.configure()['max_nodes'] == 20000
        b.declare(*['x%d' % i for i in range(64)])
        try:
            u = b.false
            for i in range(32):   # pairs far apart in the order: 2^32 nodes
                u = u | (b.var('x%d' % i) & b.var('x%d' % (i + 32)))
            raise SystemExit('no MemoryError')
        except MemoryError as e:
            assert 'maximum' in str(e), e
        before = b.configure(max_nodes=None)
        assert before['max_nodes'] == 20000 and b.configure()['max_nodes'] is None
        w = b.add_expr('x0 & x32 | x1 & x33')   # usable again
        assert w.count() == 7
        try:
            b.declare(*['y%d' % i for i in range(2000)])
            raise SystemExit('no BDDError')
        except corvane.BDDError as e:
            assert e.code == -3 and e.message, e
        del u, w
        keep = corvane.BDD()        # keeps the engine, and its spent variables
        del b
        c = corvane.BDD()           # takes over the variables b left behind
        names = ['z%d' % i for i in range(900)]
        c.declare(*names)
        c.add_var('top', level=0)
        assert list(c.var_levels.values()) == [k + 1 for k in range(900)] + [0]
        parity = c.add_expr(' ^ '.join(names))
        chain = c.cube(names)       # 900 nested ite() in its text
        assert parity.count() == 2 ** 899 and c.add_expr(c.to_expr(chain)) == chain
        try:
            c.configure(colour=1)
            raise SystemExit('no ValueError')
        except ValueError:
            pass
        print('done')
    ''')
    run = subprocess.run([sys.executable, '-c', script], capture_output=True, text=True,
                         env=dict(os.environ), timeout=300)
    assert (run.returncode, run.stdout, run.stderr) == (0, 'done\n', '')


def test_settings_round_trip():
    b = corvane.BDD()
    old = b.configure(max_growth=5000, reordering=True, min_free=30)
    assert b.configure(**old) == dict(old, max_growth=5000, reordering=True, min_free=30)
    assert b.configure() == old
    stats = b.statistics()
    assert {'nodes', 'peak', 'collections', 'reorderings', 'cache_hits'} <= stats.keys()
    assert stats['peak'] >= stats['nodes'] == len(b)
