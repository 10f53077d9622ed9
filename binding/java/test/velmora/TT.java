package velmora;

import java.util.Arrays;
import java.util.HashMap;
import java.util.Map;
import java.util.Random;
import velmora.CorvaneFactory.CorvaneBDD;

/** Truth table over n variables: bit a is the value under assignment a (bit v of a = variable v). */
final class TT {
    final int n;
    final long[] w;

    TT(int n) {
        this.n = n;
        this.w = new long[Math.max(1, (1 << n) / 64)];
    }

    int size() {
        return 1 << n;
    }

    boolean get(int a) {
        return (w[a >>> 6] >>> (a & 63) & 1) != 0;
    }

    void set(int a, boolean v) {
        long bit = 1L << (a & 63);
        w[a >>> 6] = v ? w[a >>> 6] | bit : w[a >>> 6] & ~bit;
    }

    static TT of(int n, java.util.function.IntPredicate f) {
        TT t = new TT(n);
        for (int a = 0; a < t.size(); a++) {
            t.set(a, f.test(a));
        }
        return t;
    }

    static TT var(int n, int v) {
        return of(n, a -> (a >>> v & 1) != 0);
    }

    static TT random(Random rnd, int n) {
        return of(n, a -> rnd.nextBoolean());
    }

    TT apply(TT o, BDDFactory.Op op) {
        return of(n, a -> eval(op, get(a), o.get(a)));
    }

    static boolean eval(BDDFactory.Op op, boolean l, boolean r) {
        switch (op) {
            case AND: return l && r;
            case XOR: return l != r;
            case OR: return l || r;
            case NAND: return !(l && r);
            case NOR: return !(l || r);
            case IMP: return !l || r;
            case BIIMP: return l == r;
            case DIFF: return l && !r;
            case LESS: return !l && r;
            default: return l || !r;
        }
    }

    TT not() {
        return of(n, a -> !get(a));
    }

    TT ite(TT g, TT h) {
        return of(n, a -> get(a) ? g.get(a) : h.get(a));
    }

    /** Value with variable v forced to val. */
    TT cofactor(int v, boolean val) {
        return of(n, a -> get(val ? a | 1 << v : a & ~(1 << v)));
    }

    /** kind 0: exists, 1: for all, 2: unique (xor of cofactors). */
    TT quant(int[] vars, int kind) {
        TT t = this;
        for (int v : vars) {
            TT lo = t.cofactor(v, false), hi = t.cofactor(v, true);
            t = lo.apply(hi, kind == 0 ? BDDFactory.Op.OR : kind == 1 ? BDDFactory.Op.AND : BDDFactory.Op.XOR);
        }
        return t;
    }

    /** Simultaneous substitution of subst[v] for every variable v. */
    TT compose(TT[] subst) {
        return of(n, a -> {
            int b = 0;
            for (int v = 0; v < n; v++) {
                b |= subst[v].get(a) ? 1 << v : 0;
            }
            return get(b);
        });
    }

    boolean dependsOn(int v) {
        return !cofactor(v, false).equals(cofactor(v, true));
    }

    int count() {
        return (int) Arrays.stream(w).map(Long::bitCount).sum();
    }

    boolean implies(TT o) {
        return of(n, a -> get(a) && !o.get(a)).count() == 0;
    }

    @Override
    public boolean equals(Object o) {
        // Bits past size() are never set, so whole words compare.
        return o instanceof TT && ((TT) o).n == n && Arrays.equals(w, ((TT) o).w);
    }

    @Override
    public int hashCode() {
        return Arrays.hashCode(w);
    }

    @Override
    public String toString() {
        StringBuilder s = new StringBuilder();
        for (int a = 0; a < Math.min(size(), 128); a++) {
            s.append(get(a) ? '1' : '0');
        }
        return s.toString();
    }

    /**
     * The table of b, read by walking its nodes through var/low/high alone
     * (independent of the operator that built it and of the variable order).
     */
    static TT of(CorvaneBDD b, int n) {
        return walk(b, n, new HashMap<>());
    }

    private static TT walk(CorvaneBDD b, int n, Map<Integer, TT> memo) {
        if (b.isZero() || b.isOne()) {
            return of(n, a -> b.isOne());
        }
        TT t = memo.get(b.root());
        if (t != null) {
            return t;
        }
        int v = b.var();
        CorvaneBDD lo = b.low(), hi = b.high();
        t = var(n, v).ite(walk(hi, n, memo), walk(lo, n, memo));
        lo.free();
        hi.free();
        memo.put(b.root(), t);
        return t;
    }

    /** A BDD for t built from minterms, a construction independent of the operator under test. */
    CorvaneBDD build(CorvaneFactory f) {
        int[] vars = new int[n];
        for (int v = 0; v < n; v++) {
            vars[v] = n - 1 - v; // cube value bit v goes to variable v
        }
        CorvaneBDD r = f.zero();
        for (int a = 0; a < size(); a++) {
            if (get(a)) {
                r.orWith(f.buildCube(a, vars));
            }
        }
        return r;
    }
}
