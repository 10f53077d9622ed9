package velmora;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.math.BigInteger;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashSet;
import java.util.Iterator;
import java.util.List;
import java.util.Random;
import java.util.Set;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import velmora.BDDFactory.Op;
import velmora.BDDFactory.ReorderMethod;
import velmora.CorvaneFactory.CorvaneBDD;
import velmora.CorvaneFactory.CorvaneBDDPairing;

/**
 * Every BDD operation of the Java API against truth tables, on random
 * functions: each native method must reach its own engine call with its
 * arguments in place. Also run on a tiny table under automatic sifting,
 * so collections, growth and reorderings happen inside the calls.
 */
class OperatorsTest {
    static final int N = 5;
    CorvaneFactory f;
    final Random rnd = new Random(7);
    final List<CorvaneBDD> made = new ArrayList<>();

    @BeforeEach
    void start() {
        f = CorvaneFactory.init(2000, 500, N);
    }

    @AfterEach
    void stop() {
        f.done();
    }

    /** Remembers b for freeing and returns it. */
    CorvaneBDD k(CorvaneBDD b) {
        made.add(b);
        return b;
    }

    TT tt(CorvaneBDD b) {
        return TT.of(b, N);
    }

    int[] randomVars() {
        int[] vs = IntStream.range(0, N).filter(v -> rnd.nextInt(3) == 0).toArray();
        return vs.length > 0 ? vs : new int[] {rnd.nextInt(N)};
    }

    @Test
    void everyOperationMatchesTruthTables() {
        everyOperation(40);
        assertEquals(0, f.liveHandles(), "every handle was freed");
    }

    @Test
    void resultsStayRightWhileTheEngineReorders() {
        f.done();
        f = CorvaneFactory.init(100, 100, N);
        f.varBlockAll();
        f.autoReorder(ReorderMethod.SIFT);
        assertEquals(ReorderMethod.SIFT, f.getReorderMethod());
        everyOperation(25);
        assertTrue(f.getReorderStats().num > 0, "the operations triggered reorderings");
    }

    void everyOperation(int rounds) {
        for (int it = 0; it < rounds; it++) {
            TT a = TT.random(rnd, N), b = TT.random(rnd, N), c = TT.random(rnd, N);
            CorvaneBDD A = k(a.build(f)), B = k(b.build(f)), C = k(c.build(f));
            assertEquals(a, tt(A));

            for (Op op : Op.values()) {
                CorvaneBDD r = k(A.apply(B, op));
                assertEquals(a.apply(b, op), tt(r), op.name());
                // Canonical: the same function from another construction is the same node.
                assertEquals(k(a.apply(b, op).build(f)), r, op.name());
            }
            assertEquals(a.not(), tt(k(A.not())));
            assertEquals(a.ite(b, c), tt(k(A.ite(B, C))));

            int[] vars = randomVars();
            CorvaneBDD set = k(f.makeSet(vars));
            assertEquals(a.quant(vars, 0), tt(k(A.exist(set))));
            assertEquals(a.quant(vars, 1), tt(k(A.forAll(set))));
            assertEquals(a.quant(vars, 2), tt(k(A.unique(set))));
            assertEquals(a.apply(b, Op.AND).quant(vars, 0), tt(k(A.relprod(B, set))));
            Op op = Op.values()[rnd.nextInt(10)];
            assertEquals(a.apply(b, op).quant(vars, 0), tt(k(A.applyEx(B, op, set))));
            assertEquals(a.apply(b, op).quant(vars, 1), tt(k(A.applyAll(B, op, set))));
            assertEquals(a.apply(b, op).quant(vars, 2), tt(k(A.applyUni(B, op, set))));

            // Substitution: a random permutation, random functions, one variable.
            List<Integer> perm = IntStream.range(0, N).boxed().collect(Collectors.toList());
            Collections.shuffle(perm, rnd);
            int[] ids = {0, 1, 2, 3, 4};
            CorvaneBDDPairing p = f.makePair(ids, perm.stream().mapToInt(Integer::intValue).toArray());
            TT[] subst = new TT[N];
            Arrays.setAll(subst, u -> TT.var(N, perm.get(u)));
            assertEquals(a.compose(subst), tt(k(A.replace(p))));
            CorvaneBDD[] fs = new CorvaneBDD[vars.length];
            Arrays.setAll(subst, u -> TT.var(N, u));
            for (int i = 0; i < vars.length; i++) {
                subst[vars[i]] = TT.random(rnd, N);
                fs[i] = k(subst[vars[i]].build(f));
            }
            p.reset();
            p.set(vars, fs);
            assertEquals(a.compose(subst), tt(k(A.veccompose(p))));
            p.free();
            int v = rnd.nextInt(N);
            Arrays.setAll(subst, u -> u == v ? b : TT.var(N, u));
            assertEquals(a.compose(subst), tt(k(A.compose(B, v))));

            // Restriction and generalised cofactors.
            int value = rnd.nextInt(1 << vars.length);
            CorvaneBDD cube = k(f.buildCube(value, vars));
            TT restricted = a;
            for (int i = 0; i < vars.length; i++) {
                restricted = restricted.cofactor(vars[i], (value >>> (vars.length - 1 - i) & 1) != 0);
            }
            assertEquals(restricted, tt(k(A.restrict(cube))));
            if (c.count() > 0) {
                assertEquals(a.apply(c, Op.AND), tt(k(A.constrain(C))).apply(c, Op.AND));
                assertEquals(a.apply(c, Op.AND), tt(k(A.simplify(C))).apply(c, Op.AND));
            }
            int[] depv = IntStream.range(0, N).filter(a::dependsOn).toArray();
            CorvaneBDD support = k(A.support());
            assertEquals(depv.length == 0 ? k(f.one()) : k(f.makeSet(depv)), support);

            checkAssignmentsAndCounts(a, A);
            made.forEach(CorvaneBDD::free);
            made.clear();
        }
    }

    void checkAssignmentsAndCounts(TT a, CorvaneBDD A) {
        int count = a.count();
        assertEquals(count, A.satCount());
        if (count > 0) {
            assertEquals(Math.log(count) / Math.log(2), A.logSatCount(), 1e-9);
            // Without variable 4, counted over the other four variables.
            CorvaneBDD e = k(A.exist(k(f.ithVar(4)))), four = k(f.makeSet(0, 1, 2, 3));
            double half = a.quant(new int[] {4}, 0).count() / 2.0;
            assertEquals(half, e.satCount(four));
            assertEquals(Math.log(half) / Math.log(2), e.logSatCount(four), 1e-9);
        }
        TT one = tt(k(A.satOne()));
        assertTrue(one.implies(a));
        assertEquals(count > 0, one.count() > 0);
        TT full = tt(k(A.fullSatOne()));
        assertEquals(count > 0 ? 1 : 0, full.count());
        assertTrue(full.implies(a));
        CorvaneBDD set = k(f.makeSet(randomVars()));
        assertTrue(tt(k(A.satOne(set, rnd.nextBoolean()))).implies(a));

        // The assignments cover a exactly, without overlap, one per path.
        List<byte[]> sat = A.allsat();
        assertEquals(A.pathCount(), sat.size());
        TT union = new TT(N);
        int covered = 0;
        for (byte[] s : sat) {
            assertEquals(N, s.length);
            for (int x = 0; x < union.size(); x++) {
                boolean match = true;
                for (int v = 0; v < N; v++) {
                    match &= s[v] == -1 || s[v] == (x >>> v & 1);
                }
                if (match) {
                    union.set(x, true);
                    covered++;
                }
            }
        }
        assertEquals(a, union);
        assertEquals(count, covered);
        // The exact count and the lazy enumeration (read from a node snapshot) agree with the engine's.
        assertEquals(BigInteger.valueOf(count), A.satCountExact());
        Iterator<byte[]> lazy = A.allsatIterator();
        for (byte[] s : sat) {
            assertArrayEquals(s, lazy.next());
        }
        assertFalse(lazy.hasNext());

        // The printed set, read back cube by cube, is the function again.
        String text = A.toSetString();
        StringBuilder sb = new StringBuilder();
        A.printSet(sb);
        assertEquals(text, sb.toString());
        TT printed = new TT(N);
        Matcher m = Pattern.compile("<([^>]*)>").matcher(text);
        while (m.find()) {
            int mask = 0, bits = 0;
            for (String lit : m.group(1).split(", ")) {
                if (!lit.isEmpty()) {
                    String[] vb = lit.split(":");
                    mask |= 1 << Integer.parseInt(vb[0]);
                    bits |= Integer.parseInt(vb[1]) << Integer.parseInt(vb[0]);
                }
            }
            for (int x = 0; x < printed.size(); x++) {
                if ((x & mask) == bits) {
                    printed.set(x, true);
                }
            }
        }
        assertEquals(count == (1 << N) ? "T" : count == 0 ? "F" : "<", text.substring(0, 1));
        if (count > 0 && count < (1 << N)) {
            assertEquals(a, printed);
        }
        assertTrue(A.toDotString().startsWith("digraph"));
        assertEquals(A.nodeCount() + 1, A.toTableString().split("\n").length, "a root line and one per node");

        // One profile entry per node, on exactly the support's variables.
        int[] profile = A.varProfile();
        assertEquals(N, profile.length);
        assertEquals(Arrays.stream(profile).sum(), A.nodeCount());
        assertEquals(A.nodeCount(), f.nodeCount(Arrays.asList(A, A)));
        for (int v = 0; v < N; v++) {
            assertEquals(a.dependsOn(v), profile[v] > 0);
        }
    }

    @Test
    void allsatReturnsEveryPathWhenThereAreMoreThanVariables() {
        CorvaneBDD parity = f.zero();
        for (int v = 0; v < N; v++) {
            parity = parity.xor(k(f.ithVar(v)));
        }
        // 2^(N-1) paths, far more than N variables.
        List<byte[]> sat = parity.allsat();
        assertEquals(1 << (N - 1), sat.size());
        Set<String> distinct = new HashSet<>();
        for (byte[] s : sat) {
            int ones = 0;
            for (byte x : s) {
                assertTrue(x == 0 || x == 1);
                ones += x;
            }
            assertEquals(1, ones % 2);
            distinct.add(Arrays.toString(s));
        }
        assertEquals(sat.size(), distinct.size());
        // The array form keeps one element per variable when paths are fewer.
        byte[][] raw = CorvaneBDD.allsat0(1);
        assertEquals(N, raw.length);
        assertTrue(Arrays.equals(new byte[] {-1, -1, -1, -1, -1}, raw[0]));
        assertEquals(null, raw[1]);
        assertEquals(N, CorvaneBDD.allsat0(0).length);

        // Beyond what a double or an array holds: counted exactly, enumerated lazily.
        f.extVarNum(100 - N);
        CorvaneBDD wide = f.zero();
        for (int v = 0; v < 100; v++) {
            wide = wide.xor(k(f.ithVar(v)));
        }
        assertEquals(BigInteger.ONE.shiftLeft(99), wide.satCountExact());
        assertEquals(3, wide.allsatStream().limit(3).filter(s -> s.length == 100).count());
        wide.free();
    }
}
