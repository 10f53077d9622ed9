"""Binary decision diagrams with the Corvane engine.

    >>> import corvane
    >>> bdd = corvane.BDD()
    >>> bdd.declare('x', 'y')
    >>> u = bdd.add_expr(r'x /\\ ~y')
    >>> bdd.count(u)
    1

Every `BDD` manager is a namespace of variables over the one engine of the
process: managers may live side by side, and their nodes never mix. Engine
settings (node limit, growth, automatic reordering) are shared by all of them.
"""
import itertools
import json
import os
import shutil
import subprocess
import sys

from ._corvane import BDDError, Function, _Manager

__all__ = ['BDD', 'BDDError', 'Function']

# Operator names of BDD.apply: engine operator codes, 10 being negation.
_OPS = {}
for _code, _names in ((10, ('not', '~', '!')), (0, ('and', '/\\', '&')),
                      (2, ('or', '\\/', '|')), (1, ('xor', '^', '#')),
                      (5, ('implies', '=>', '->')), (6, ('equiv', '<=>', '<->')),
                      (7, ('diff', '-'))):
    for _name in _names:
        _OPS[_name] = _code

_TEXT_MAGIC = 'corvane-python 1'


class BDD(_Manager):
    """A manager of BDDs over variables declared by name.

    `max_nodes` limits the engine's node table and `cache_size` sizes its
    operator caches; both are engine-wide, and `cache_size` only counts for
    the manager that starts the engine (when no other manager lives).
    """

    def __init__(self, max_nodes=None, cache_size=None):
        super().__init__(max_nodes, cache_size)
        self._ints = {}  # integer name -> (low, high, bit names, least significant first)

    def declare_int(self, name, low, high):
        """Declares the integer `name` in low..high (0 <= low <= high): the
        variables name_0, name_1, ... hold its binary digits, least significant
        first. Formulas compare sums and differences of integers and
        literals (`x + 1 = y`, `x < 10`); they say nothing about the range,
        which `bdd.int_range(name)` gives."""
        if not 0 <= low <= high:
            raise ValueError('an integer needs 0 <= low <= high')
        if name in self._ints:
            if self._ints[name][:2] != (low, high):
                raise ValueError(f"integer '{name}' already has another range")
            return
        if name in self.vars:
            raise ValueError(f"'{name}' is already a Boolean variable")
        bits = [f'{name}_{k}' for k in range(max(1, high.bit_length()))]
        self.declare(*bits)
        self._ints[name] = (low, high, bits)

    def int_range(self, name):
        """The BDD of low <= name <= high for a declared integer."""
        if name not in self._ints:
            raise ValueError(f"undeclared integer: '{name}'")
        low, high, _ = self._ints[name]
        return self.add_expr(f'{low} <= {name} /\\ {name} <= {high}')

    def int_value(self, assignment, name):
        """The value of the integer `name` in an assignment from pick_iter."""
        if name not in self._ints:
            raise ValueError(f"undeclared integer: '{name}'")
        return sum(1 << k for k, b in enumerate(self._ints[name][2]) if assignment[b])

    def __repr__(self):
        return f'<corvane.BDD with {len(self.vars)} variables>'

    # -- formulas -----------------------------------------------------------

    def add_expr(self, text):
        """The BDD of a formula; see the README for the syntax."""
        # Each nesting level costs a few Python frames: text from to_expr
        # nests once per level of the BDD, up to the engine's 1023.
        limit = sys.getrecursionlimit()
        sys.setrecursionlimit(max(limit, 1000 + 10 * text.count('(')))
        try:
            return _Parser(self, text).parse()
        finally:
            sys.setrecursionlimit(limit)

    def to_expr(self, u):
        """`u` as a formula that add_expr parses back to u."""
        if u not in self:
            raise ValueError('the BDD belongs to another manager')
        memo = {0: 'FALSE', 1: 'TRUE'}
        stack = [u]
        while stack:  # children first, without recursion: a chain may be 1023 deep
            v = stack[-1]
            key = int(v)
            if key in memo:
                stack.pop()
                continue
            low, high = v.low, v.high
            todo = [w for w in (low, high) if int(w) not in memo]
            if todo:
                stack += todo
                continue
            stack.pop()
            if int(low) == 0 and int(high) == 1:
                memo[key] = v.var
            else:
                memo[key] = f'ite({v.var}, {memo[int(high)]}, {memo[int(low)]})'
        return memo[int(u)]

    # -- operations ---------------------------------------------------------

    def apply(self, op, u, v=None, w=None):
        """`op` applied to the operands: 'not', 'and', 'or', 'xor',
        'implies', 'equiv', 'diff' (or their symbols) or 'ite'."""
        if op == 'ite':
            if v is None or w is None:
                raise ValueError("'ite' takes three operands")
            return self.ite(u, v, w)
        if op not in _OPS:
            raise ValueError(f'unknown operator: {op!r}')
        code = _OPS[op]
        if code == 10:
            if v is not None or w is not None:
                raise ValueError(f'{op!r} takes one operand')
            return self._apply(code, u, None)
        if v is None or w is not None:
            raise ValueError(f'{op!r} takes two operands')
        return self._apply(code, u, v)

    def quantify(self, u, names, forall=False):
        """`u` with the named variables quantified (existentially by default)."""
        return self._quantify(u, list(names), forall)

    def exist(self, names, u):
        return self._quantify(u, list(names), False)

    def forall(self, names, u):
        return self._quantify(u, list(names), True)

    def let(self, mapping, u):
        """Substitutes at once for the named variables: Booleans restrict,
        names rename, BDDs compose."""
        mapping = dict(mapping)
        if not mapping:
            return u
        values = list(mapping.values())
        if all(isinstance(v, bool) for v in values):
            return self._restrict(u, mapping)
        if all(isinstance(v, str) for v in values):
            return self._substitute(u, mapping, False)
        if all(isinstance(v, Function) for v in values):
            return self._substitute(u, mapping, True)
        raise ValueError('the values must be all Booleans, all names or all BDDs')

    # -- assignments ----------------------------------------------------------

    def pick(self, u, care_vars=None):
        """One satisfying assignment as a dict, or None for false."""
        return next(self.pick_iter(u, care_vars), None)

    def pick_iter(self, u, care_vars=None):
        """Lazily, the satisfying assignments of `u` as dicts: over its support,
        or spelling out every variable of `care_vars` (an empty set yields the
        paths' partial assignments)."""
        if u not in self:
            raise ValueError('the BDD belongs to another manager')
        if care_vars is None:
            care = u.support
        else:
            care = set(care_vars)
            for name in care:
                self.level_of_var(name)  # raises for an undeclared name
        levels = self.var_levels
        false = self.false
        stack = [(u, {})]
        while stack:
            v, path = stack.pop()
            if v == false:
                continue
            if v.var is None:
                missing = sorted(care - path.keys(), key=levels.__getitem__)
                for bits in itertools.product((False, True), repeat=len(missing)):
                    d = dict(path)
                    d.update(zip(missing, bits))
                    yield d
                continue
            stack.append((v.high, {**path, v.var: True}))
            stack.append((v.low, {**path, v.var: False}))

    # -- files ----------------------------------------------------------------

    def dump(self, filename, roots, filetype=None):
        """Writes `roots` (a BDD or a list of them) to `filename`: the text
        format ('text'), Graphviz ('dot'), or a picture ('pdf', 'png', 'svg')
        drawn by Graphviz's dot program. The type comes from the extension
        unless given."""
        if isinstance(roots, Function):
            roots = [roots]
        roots = list(roots)
        for r in roots:
            if r not in self:
                raise ValueError('the BDD belongs to another manager')
        if filetype is None:
            ext = os.path.splitext(str(filename))[1].lower().lstrip('.')
            filetype = ext if ext in ('dot', 'pdf', 'png', 'svg') else 'text'
        if filetype == 'text':
            text = self._text(roots)
        elif filetype in ('dot', 'pdf', 'png', 'svg'):
            text = self._dot(roots)
        else:
            raise ValueError(f'unknown file type: {filetype!r}')
        if filetype in ('text', 'dot'):
            with open(filename, 'w', encoding='utf-8') as f:
                f.write(text)
            return
        dot = shutil.which('dot')
        if dot is None:
            raise RuntimeError(f"writing a .{filetype} file needs Graphviz's 'dot' program; "
                               "install Graphviz (Debian: apt-get install graphviz)")
        done = subprocess.run([dot, f'-T{filetype}', '-o', str(filename)],
                              input=text.encode('utf-8'), capture_output=True)
        if done.returncode != 0:
            raise RuntimeError('dot failed: ' + done.stderr.decode('utf-8', 'replace').strip())

    def load(self, filename):
        """The roots stored by dump in the text format, declaring any
        variable this manager lacks."""
        with open(filename, encoding='utf-8') as f:
            lines = [ln.strip() for ln in f]
        return _TextReader(self, lines, str(filename)).read()

    def _nodes(self, roots):
        """Nodes reachable from roots, children first: (node, var, low, high)."""
        seen, out = set(), []
        for root in roots:
            stack = [(root, False)]
            while stack:
                v, expanded = stack.pop()
                if int(v) in seen or v.var is None:
                    continue
                if expanded:
                    seen.add(int(v))
                    out.append(v)
                else:
                    stack.append((v, True))
                    stack.append((v.high, False))
                    stack.append((v.low, False))
        return out

    def _text(self, roots):
        # Each root in the engine's layout ("count varnum", the levels, then
        # "node var low high" lines, children first) with the manager's
        # variable numbers, after a header naming those variables.
        names = list(self.vars)
        number = {n: i for i, n in enumerate(names)}
        levels = self.var_levels
        out = [_TEXT_MAGIC, f'vars {len(names)}']
        out += [json.dumps(n, ensure_ascii=False) for n in names]
        out.append(f'roots {len(roots)}')
        for r in roots:
            nodes = self._nodes([r])
            if not nodes:
                out.append(f'0 0 {int(r)}')
                continue
            out.append(f'{len(nodes)} {len(names)}')
            out.append(' '.join(str(levels[n]) for n in names))
            out += [f'{int(v)} {number[v.var]} {int(v.low)} {int(v.high)}' for v in nodes]
        return '\n'.join(out) + '\n'

    def _dot(self, roots):
        out = ['digraph bdd {', '  node [shape=circle];']
        out.append('  0 [shape=box, label="FALSE"];')
        out.append('  1 [shape=box, label="TRUE"];')
        for v in self._nodes(roots):
            out.append(f'  {int(v)} [label={json.dumps(v.var, ensure_ascii=False)}];')
            out.append(f'  {int(v)} -> {int(v.low)} [style=dashed];')
            out.append(f'  {int(v)} -> {int(v.high)};')
        for k, r in enumerate(roots):
            out.append(f'  root{k} [shape=plaintext, label="@{int(r)}"];')
            out.append(f'  root{k} -> {int(r)};')
        out.append('}')
        return '\n'.join(out) + '\n'


class _TextReader:
    def __init__(self, bdd, lines, filename):
        self.bdd, self.lines, self.pos, self.filename = bdd, lines, 0, filename

    def fail(self, why):
        raise ValueError(f'{self.filename}, line {self.pos}: {why}')

    def next(self):
        if self.pos >= len(self.lines):
            self.fail('unexpected end of file')
        self.pos += 1
        return self.lines[self.pos - 1]

    def ints(self, count=None):
        try:
            vals = [int(t) for t in self.next().split()]
        except ValueError:
            self.fail('expected numbers')
        if count is not None and len(vals) != count:
            self.fail(f'expected {count} numbers')
        return vals

    def read(self):
        bdd = self.bdd
        if self.next() != _TEXT_MAGIC:
            self.fail('not a file written by corvane.BDD.dump')
        head = self.next().split()
        if len(head) != 2 or head[0] != 'vars' or not head[1].isdigit():
            self.fail("expected 'vars <count>'")
        names = []
        for _ in range(int(head[1])):
            try:
                names.append(str(json.loads(self.next())))
            except json.JSONDecodeError:
                self.fail('expected a quoted name')
        bdd.declare(*names)
        head = self.next().split()
        if len(head) != 2 or head[0] != 'roots' or not head[1].isdigit():
            self.fail("expected 'roots <count>'")
        return [self.root(names) for _ in range(int(head[1]))]

    def root(self, names):
        bdd = self.bdd
        first = self.ints()
        if len(first) == 3 and first[:2] == [0, 0] and first[2] in (0, 1):
            return bdd.true if first[2] else bdd.false
        if len(first) != 2 or first[0] < 1 or first[1] != len(names):
            self.fail('expected "<node count> <variable count>"')
        self.ints(len(names))  # the levels at saving time; the rebuild does not need them
        made = {0: bdd.false, 1: bdd.true}
        last = None
        for _ in range(first[0]):
            node, var, low, high = self.ints(4)
            if not 0 <= var < len(names) or low not in made or high not in made or node < 2:
                self.fail('bad node line')
            last = made[node] = bdd.ite(bdd.var(names[var]), made[high], made[low])
        return last


class _Parser:
    """Recursive descent over the formula syntax; errors name the position."""

    SYMBOLS = ['<->', '<=>', '->', '=>', '<=', '>=', '!=', '<', '>', '=', '+', '-',
               '/\\', '\\/', '\\E', '\\A',
               '~', '!', '&', '|', '^', '#', '(', ')', ',', ':']

    def __init__(self, bdd, text):
        self.bdd = bdd
        self.text = text
        self.tokens = self.tokenize(text)
        self.k = 0

    def error(self, pos, why):
        raise ValueError(f'syntax error at position {pos}: {why}')

    def tokenize(self, text):
        tokens, i, n = [], 0, len(text)
        while i < n:
            c = text[i]
            if c.isspace():
                i += 1
                continue
            if c.isdigit():
                j = i
                while j < n and text[j].isdigit():
                    j += 1
                tokens.append(('number', text[i:j], i))
                i = j
                continue
            if c.isalpha() or c == '_':
                j = i + 1
                while j < n and (text[j].isalnum() or text[j] in "_'."):
                    j += 1
                tokens.append(('name', text[i:j], i))
                i = j
                continue
            for s in self.SYMBOLS:
                if text.startswith(s, i):
                    tokens.append((s, s, i))
                    i += len(s)
                    break
            else:
                self.error(i, f'unexpected character {c!r}')
        tokens.append(('end', '', n))
        return tokens

    def peek(self):
        return self.tokens[self.k]

    def take(self, *kinds):
        tok = self.tokens[self.k]
        if tok[0] not in kinds:
            what = 'end of input' if tok[0] == 'end' else repr(tok[1])
            self.error(tok[2], f'expected {" or ".join(kinds)}, found {what}')
        self.k += 1
        return tok

    def parse(self):
        u = self.expr()
        self.take('end')
        return u

    def expr(self):
        u = self.implication()
        while self.peek()[0] in ('<->', '<=>'):
            self.k += 1
            u = u.equiv(self.implication())
        return u

    def implication(self):
        u = self.disjunction()
        if self.peek()[0] in ('->', '=>'):
            self.k += 1
            return u.implies(self.implication())
        return u

    def disjunction(self):
        u = self.exclusive()
        while self.peek()[0] in ('\\/', '|'):
            self.k += 1
            u = u | self.exclusive()
        return u

    def exclusive(self):
        u = self.conjunction()
        while self.peek()[0] in ('^', '#'):
            self.k += 1
            u = u ^ self.conjunction()
        return u

    def conjunction(self):
        u = self.unary()
        while self.peek()[0] in ('/\\', '&'):
            self.k += 1
            u = u & self.unary()
        return u

    def unary(self):
        kind, _, pos = self.peek()
        if kind in ('~', '!'):
            self.k += 1
            return ~self.unary()
        if kind in ('\\E', '\\A'):
            self.k += 1
            names = [self.name_token()]
            while self.peek()[0] == ',':
                self.k += 1
                names.append(self.name_token())
            self.take(':')
            body = self.expr()  # a quantifier reaches as far right as it can
            return self.bdd.quantify(body, names, forall=(kind == '\\A'))
        if kind == '(':
            self.k += 1
            u = self.expr()
            self.take(')')
            return u
        if kind == 'number' or kind == 'name' and self.peek()[1] in self.bdd._ints:
            return self.comparison()
        if kind == 'name':
            _, word, pos = self.take('name')
            if word == 'TRUE':
                return self.bdd.true
            if word == 'FALSE':
                return self.bdd.false
            if word == 'ite' and self.peek()[0] == '(':
                self.k += 1
                f = self.expr()
                self.take(',')
                g = self.expr()
                self.take(',')
                h = self.expr()
                self.take(')')
                return self.bdd.ite(f, g, h)
            return self.variable(word, pos)
        what = 'end of input' if kind == 'end' else repr(self.peek()[1])
        self.error(pos, f'expected a formula, found {what}')

    # Integer comparisons: subtracted terms move to the other side, so both
    # sides are sums of natural numbers, added and compared bit by bit.
    COMPARE = ('=', '!=', '<', '<=', '>', '>=')

    def comparison(self):
        left = self.int_sum()
        kind = self.take(*self.COMPARE)[0]
        right = self.int_sum()
        c = left[2] - right[2]
        a = self.add_all(left[0] + right[1], max(c, 0))
        b = self.add_all(right[0] + left[1], max(-c, 0))
        if kind in ('=', '!='):
            eq = self.bdd.true
            for x, y in zip(*self.pad(a, b)):
                eq &= x.equiv(y)
            return eq if kind == '=' else ~eq
        if kind in ('>', '<='):
            a, b = b, a
        less = self.less(a, b)
        return less if kind in ('<', '>') else ~less

    def int_sum(self):
        """(added bit vectors, subtracted bit vectors, constant)."""
        plus, minus, const, sign = [], [], 0, 1
        while True:
            kind, word, pos = self.take('number', 'name')
            if kind == 'number':
                const += sign * int(word)
            elif word in self.bdd._ints:
                vec = [self.bdd.var(b) for b in self.bdd._ints[word][2]]
                (plus if sign > 0 else minus).append(vec)
            else:
                self.error(pos, f"'{word}' is not an integer")
            if self.peek()[0] not in ('+', '-'):
                return plus, minus, const
            sign = 1 if self.take('+', '-')[0] == '+' else -1

    def pad(self, a, b):
        n = max(len(a), len(b))
        f = self.bdd.false
        return a + [f] * (n - len(a)), b + [f] * (n - len(b))

    def add_all(self, vectors, const):
        t, f = self.bdd.true, self.bdd.false
        total = [t if const >> k & 1 else f for k in range(const.bit_length())]
        for vec in vectors:
            a, b = self.pad(total, vec)
            carry, total = f, []
            for x, y in zip(a, b):
                total.append(x ^ y ^ carry)
                carry = (x & y) | (carry & (x ^ y))
            total.append(carry)
        return total

    def less(self, a, b):
        lt = self.bdd.false  # decided by the most significant differing bit
        for x, y in zip(*self.pad(a, b)):
            lt = (~x & y) | (x.equiv(y) & lt)
        return lt

    def name_token(self):
        _, word, pos = self.take('name')
        self.variable(word, pos)
        return word

    def variable(self, word, pos):
        try:
            return self.bdd.var(word)
        except ValueError:
            raise ValueError(f"undeclared variable '{word}' at position {pos}") from None
