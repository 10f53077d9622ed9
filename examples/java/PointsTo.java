import java.util.ArrayDeque;
import java.util.BitSet;
import java.util.Iterator;
import velmora.BDDDomain;
import velmora.CorvaneFactory;
import velmora.CorvaneFactory.CorvaneBDD;
import velmora.CorvaneFactory.CorvaneBDDPairing;

/**
 * Inclusion-based (Andersen-style) points-to analysis of a generated program
 * with allocations {@code v = new h}, copies {@code v = w}, field loads
 * {@code v = w.f} and stores {@code v.f = w}, in two ways:
 *
 * <ul>
 *   <li>as relations over finite domains, evaluated semi-naively: each round
 *       joins (relational products) only the facts that are new since the last
 *       round with the full relations;
 *   <li>by a plain worklist solver over bit sets, which checks the first.
 * </ul>
 *
 * <pre>java -cp build/binding/corvane-2.4.0.jar:build/examples/pointsto-java.jar PointsTo 12</pre>
 *
 * The argument is log2 of the number of program variables. The generator is
 * the same as in examples/pointsto.c, so both print the same counts.
 */
public final class PointsTo {
    /** splitmix64, so that the C version generates the very same program. */
    static final class Rng {
        long s;

        Rng(long seed) {
            s = seed;
        }

        int below(int n) {
            s += 0x9E3779B97F4A7C15L;
            long z = s;
            z = (z ^ (z >>> 30)) * 0xBF58476D1CE4E5B9L;
            z = (z ^ (z >>> 27)) * 0x94D049BB133111EBL;
            z ^= z >>> 31;
            return (int) Long.remainderUnsigned(z, n);
        }
    }

    /** The program: parallel arrays per statement kind. */
    static final class Program {
        final int vars, heap, fields;
        final int[][] alloc, copy, load, store; // {v, h}, {dst, src}, {dst, base, f}, {base, f, src}

        Program(int logVars) {
            vars = 1 << logVars;
            heap = vars / 4;
            fields = 4;
            Rng r = new Rng(42);
            alloc = new int[vars / 2][];
            for (int i = 0; i < alloc.length; i++) {
                alloc[i] = new int[] {r.below(vars), r.below(heap)};
            }
            copy = new int[vars * 3 / 4][];
            for (int i = 0; i < copy.length; i++) {
                copy[i] = new int[] {r.below(vars), r.below(vars)};
            }
            load = new int[vars / 6][];
            for (int i = 0; i < load.length; i++) {
                load[i] = new int[] {r.below(vars), r.below(vars), r.below(fields)};
            }
            store = new int[vars / 6][];
            for (int i = 0; i < store.length; i++) {
                store[i] = new int[] {r.below(vars), r.below(fields), r.below(vars)};
            }
        }
    }

    // ---- the BDD solver --------------------------------------------------------------

    static final class BddSolver implements AutoCloseable {
        final CorvaneFactory f;
        final BDDDomain fd, v1, v2, h1, h2;
        CorvaneBDD pt, hpt; // pt(v1, h1), hpt(h1, f, h2)
        int rounds;

        BddSolver(Program p) {
            f = CorvaneFactory.init(1_000_000, 100_000);
            f.setCacheRatio(8);
            // Fields on top, then variables above heap sites (four times faster here than
            // the other way round), the two copies of each domain interleaved.
            fd = f.extDomain(p.fields)[0];
            BDDDomain[] v = f.extDomain(p.vars, p.vars);
            BDDDomain[] h = f.extDomain(p.heap, p.heap);
            v1 = v[0];
            v2 = v[1];
            h1 = h[0];
            h2 = h[1];
        }

        /** The relation of the given tuples over the given domains. */
        CorvaneBDD relation(int[][] tuples, BDDDomain... ds) {
            CorvaneBDD r = f.zero();
            for (int[] t : tuples) {
                CorvaneBDD c = f.one();
                for (int i = 0; i < ds.length; i++) {
                    c.andWith(ds[i].ithVar(t[i]));
                }
                r.orWith(c);
            }
            return r;
        }

        CorvaneBDD rename(CorvaneBDD b, BDDDomain from, BDDDomain to) {
            try (CorvaneBDDPairing p = f.makePair().set(from, to)) {
                return b.replace(p);
            }
        }

        /** rel ⋈ x, quantifying the domains in `over`; frees nothing. */
        CorvaneBDD join(CorvaneBDD rel, CorvaneBDD x, BDDDomain... over) {
            try (CorvaneBDD set = f.makeSet(over)) {
                return rel.relprod(x, set);
            }
        }

        void solve(Program p) {
            try (CorvaneFactory.Scope scope = f.scope()) {
                CorvaneBDD assign = relation(p.copy, v1, v2); // v1 = v2
                CorvaneBDD load = relation(p.load, v1, v2, fd); // v1 = v2.f
                CorvaneBDD store = relation(p.store, v1, fd, v2); // v1.f = v2
                pt = scope.keep(relation(p.alloc, v1, h1));
                hpt = scope.keep(f.zero());
                CorvaneBDD dPt = pt.id(), dHpt = f.zero();
                while (!dPt.isZero() || !dHpt.isZero()) {
                    rounds++;
                    try (CorvaneFactory.Scope round = f.scope()) {
                        CorvaneBDD ptV2 = rename(pt, v1, v2), dPtV2 = rename(dPt, v1, v2);
                        // pt(v, h) :- assign(v, w), dPt(w, h)
                        CorvaneBDD newPt = join(assign, dPtV2, v2);
                        // hpt(h1, f, h2) :- store(v, f, w), pt(v, h1), pt(w, h2), one of them new
                        CorvaneBDD ptV2H2 = rename(ptV2, h1, h2), dPtV2H2 = rename(dPtV2, h1, h2);
                        CorvaneBDD newHpt = join(join(store, dPt, v1), ptV2H2, v2)
                                .or(join(join(store, pt, v1), dPtV2H2, v2));
                        // pt(v, h2) :- load(v, w, f), pt(w, h1), hpt(h1, f, h2), one of them new
                        CorvaneBDD viaLoad = join(join(load, dPtV2, v2), hpt, fd, h1)
                                .or(join(join(load, ptV2, v2), dHpt, fd, h1));
                        newPt = newPt.or(rename(viaLoad, h2, h1));
                        // Only what was not known before goes into the next round.
                        CorvaneBDD nextPt = round.keep(newPt.diff(pt));
                        CorvaneBDD nextHpt = round.keep(newHpt.diff(hpt));
                        pt.orWith(nextPt.id());
                        hpt.orWith(nextHpt.id());
                        dPt.free();
                        dHpt.free();
                        dPt = nextPt;
                        dHpt = nextHpt;
                    }
                }
                dPt.free();
                dHpt.free();
            }
        }

        /** Every (v, h) pair of pt, from the paths of its BDD. */
        long forEachPair(java.util.function.BiConsumer<Integer, Integer> out) {
            int[] vb = v1.vars(), hb = h1.vars();
            int nv = v1.size(), nh = h1.size();
            long n = 0;
            for (Iterator<byte[]> it = pt.allsatIterator(); it.hasNext();) {
                byte[] a = it.next();
                for (int v : values(a, vb, nv)) {
                    for (int h : values(a, hb, nh)) {
                        out.accept(v, h);
                        n++;
                    }
                }
            }
            return n;
        }

        /** The domain values a path allows (its free bits take both values). */
        static int[] values(byte[] a, int[] bits, int size) {
            int free = 0, fixed = 0;
            for (int i = 0; i < bits.length; i++) {
                if (a[bits[i]] < 0) {
                    free |= 1 << i;
                } else {
                    fixed |= a[bits[i]] << i;
                }
            }
            int[] r = new int[1 << Integer.bitCount(free)];
            int n = 0;
            for (int sub = free;; sub = (sub - 1) & free) {
                if ((fixed | sub) < size) {
                    r[n++] = fixed | sub;
                }
                if (sub == 0) {
                    break;
                }
            }
            return java.util.Arrays.copyOf(r, n);
        }

        @Override
        public void close() {
            f.close();
        }
    }

    // ---- the worklist solver ------------------------------------------------------

    /** Andersen's analysis with dynamic edges: nodes are variables, then heap cells (h, f). */
    static BitSet[] worklist(Program p) {
        int cells = p.heap * p.fields, n = p.vars + cells;
        BitSet[] pts = new BitSet[n];
        BitSet[] succ = new BitSet[n];
        for (int i = 0; i < n; i++) {
            pts[i] = new BitSet();
            succ[i] = new BitSet();
        }
        // Loads and stores by base variable.
        java.util.List<java.util.List<int[]>> loadsOf = new java.util.ArrayList<>(), storesOf = new java.util.ArrayList<>();
        for (int i = 0; i < p.vars; i++) {
            loadsOf.add(new java.util.ArrayList<>());
            storesOf.add(new java.util.ArrayList<>());
        }
        for (int[] l : p.load) {
            loadsOf.get(l[1]).add(l);
        }
        for (int[] s : p.store) {
            storesOf.get(s[0]).add(s);
        }
        ArrayDeque<Integer> work = new ArrayDeque<>();
        boolean[] queued = new boolean[n];
        for (int[] a : p.alloc) {
            pts[a[0]].set(a[1]);
            if (!queued[a[0]]) {
                queued[a[0]] = true;
                work.add(a[0]);
            }
        }
        for (int[] c : p.copy) {
            succ[c[1]].set(c[0]);
        }
        while (!work.isEmpty()) {
            int x = work.poll();
            queued[x] = false;
            if (x < p.vars) {
                // New edges from the heap cells x points to.
                for (int h = pts[x].nextSetBit(0); h >= 0; h = pts[x].nextSetBit(h + 1)) {
                    for (int[] l : loadsOf.get(x)) {
                        int cell = p.vars + h * p.fields + l[2];
                        if (!succ[cell].get(l[0])) {
                            succ[cell].set(l[0]);
                            if (!queued[cell]) {
                                queued[cell] = true;
                                work.add(cell);
                            }
                        }
                    }
                    for (int[] s : storesOf.get(x)) {
                        int cell = p.vars + h * p.fields + s[1];
                        if (!succ[s[2]].get(cell)) {
                            succ[s[2]].set(cell);
                            if (!queued[s[2]]) {
                                queued[s[2]] = true;
                                work.add(s[2]);
                            }
                        }
                    }
                }
            }
            for (int y = succ[x].nextSetBit(0); y >= 0; y = succ[x].nextSetBit(y + 1)) {
                int before = pts[y].cardinality();
                pts[y].or(pts[x]);
                if (pts[y].cardinality() != before && !queued[y]) {
                    queued[y] = true;
                    work.add(y);
                }
            }
        }
        return java.util.Arrays.copyOf(pts, p.vars);
    }

    public static void main(String[] args) {
        int log = args.length > 0 ? Integer.parseInt(args[0]) : 12;
        if (log < 4 || log > 16) {
            System.err.println("usage: PointsTo LOG2_VARIABLES   (4 <= LOG2_VARIABLES <= 16)");
            System.exit(2);
        }
        Program p = new Program(log);
        System.out.printf("program: %d variables, %d allocation sites, %d fields; %d allocations, %d copies,"
                + " %d loads, %d stores%n", p.vars, p.heap, p.fields, p.alloc.length, p.copy.length, p.load.length,
                p.store.length);

        long t0 = System.nanoTime();
        BitSet[] expected = worklist(p);
        double worklistSeconds = (System.nanoTime() - t0) / 1e9;
        long pairs = 0;
        for (BitSet b : expected) {
            pairs += b.cardinality();
        }

        t0 = System.nanoTime();
        long cpu0 = cpuNanos();
        try (BddSolver s = new BddSolver(p)) {
            s.solve(p);
            double bddSeconds = (System.nanoTime() - t0) / 1e9, bddCpu = (cpuNanos() - cpu0) / 1e9;
            System.out.printf("BDD solver: %d points-to pairs in %d semi-naive rounds, %.3f s (cpu %.3f s; pt: %d"
                    + " nodes, hpt: %d nodes)%n", countPairs(s), s.rounds, bddSeconds, bddCpu, s.pt.nodeCount(),
                    s.hpt.nodeCount());
            System.out.printf("worklist solver: %d points-to pairs, %.3f s%n", pairs, worklistSeconds);
            long[] mismatches = {0};
            long seen = s.forEachPair((v, h) -> {
                if (!expected[v].get(h)) {
                    mismatches[0]++;
                }
            });
            boolean same = mismatches[0] == 0 && seen == pairs;
            System.out.println(same ? "the two solvers agree on every pair"
                    : "MISMATCH: " + mismatches[0] + " BDD pairs not found by the worklist, " + seen + " vs " + pairs);
            if (!same) {
                System.exit(1);
            }
        }
    }

    /** Processor time of the whole JVM (compiler and collector threads included), as C's clock() counts it. */
    static long cpuNanos() {
        java.lang.management.OperatingSystemMXBean os = java.lang.management.ManagementFactory.getOperatingSystemMXBean();
        return os instanceof com.sun.management.OperatingSystemMXBean
                ? ((com.sun.management.OperatingSystemMXBean) os).getProcessCpuTime() : 0;
    }

    static long countPairs(BddSolver s) {
        try (CorvaneBDD set = s.f.makeSet(s.v1, s.h1)) {
            return s.pt.satCountExact().shiftRight(s.f.varNum() - set.scanSet().length).longValueExact();
        }
    }
}
