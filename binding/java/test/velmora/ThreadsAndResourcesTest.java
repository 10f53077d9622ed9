package velmora;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import velmora.BDDFactory.GCStats;
import velmora.CorvaneFactory.CorvaneBDD;

/** One factory shared by threads, calls from listeners, and the life of handles. */
class ThreadsAndResourcesTest {
    static final int N = 7;
    CorvaneFactory f;

    @BeforeEach
    void start() {
        f = CorvaneFactory.init(300, 100, N);
    }

    @AfterEach
    void stop() {
        f.done();
    }

    /** Random operations on one thread, every result checked against its truth table. */
    static int randomWork(CorvaneFactory f, long seed, int rounds) {
        Random rnd = new Random(seed);
        int checked = 0;
        for (int i = 0; i < rounds; i++) {
            TT a = TT.random(rnd, N), b = TT.random(rnd, N), c = TT.random(rnd, N);
            try (CorvaneBDD A = a.build(f); CorvaneBDD B = b.build(f); CorvaneBDD C = c.build(f);
                    CorvaneBDD set = f.makeSet(rnd.nextInt(N), rnd.nextInt(N))) {
                BDDFactory.Op op = BDDFactory.Op.values()[rnd.nextInt(10)];
                CorvaneBDD r;
                TT expected;
                switch (rnd.nextInt(4)) {
                    case 0: r = A.apply(B, op); expected = a.apply(b, op); break;
                    case 1: r = A.ite(B, C); expected = a.ite(b, c); break;
                    case 2: r = A.not(); expected = a.not(); break;
                    default:
                        r = A.exist(set);
                        expected = a.quant(set.scanSet(), 0);
                }
                assertEquals(expected, TT.of(r, N));
                r.free();
                checked++;
            }
        }
        return checked;
    }

    @Test
    void threadsSharingOneFactoryGetCorrectResults() throws Exception {
        int[] gcs = {0};
        f.addListener(new BDDFactory.Listener() {
            @Override
            public void gc(boolean pre, GCStats s) {
                gcs[0]++;
            }
        });
        int before = f.liveHandles();
        ExecutorService pool = Executors.newFixedThreadPool(4);
        List<Future<Integer>> done = new ArrayList<>();
        for (int t = 0; t < 4; t++) {
            long seed = t;
            done.add(pool.submit(() -> randomWork(f, seed, 150)));
        }
        for (Future<Integer> d : done) {
            assertEquals(150, d.get());
        }
        pool.shutdown();
        assertTrue(gcs[0] > 0, "the small table made the threads collect");
        assertEquals(before, f.liveHandles());
    }

    @Test
    void aListenerThatCallsTheFactoryIsRefusedAndTheOuterCallCompletes() {
        List<Throwable> refused = new ArrayList<>();
        f.addListener(new BDDFactory.Listener() {
            @Override
            public void gc(boolean pre, GCStats s) {
                try {
                    f.ithVar(0).free();
                } catch (IllegalStateException e) {
                    refused.add(e);
                }
            }
        });
        Random rnd = new Random(11);
        for (int i = 0; i < 200 && refused.isEmpty(); i++) {
            TT a = TT.random(rnd, N), b = TT.random(rnd, N);
            try (CorvaneBDD A = a.build(f); CorvaneBDD B = b.build(f); CorvaneBDD r = A.xor(B)) {
                assertEquals(a.apply(b, BDDFactory.Op.XOR), TT.of(r, N));
            }
        }
        assertFalse(refused.isEmpty(), "a collection ran");
        assertTrue(refused.get(0).getMessage().contains("listener"));
        // Still consistent: more work on the same engine is right.
        assertEquals(40, randomWork(f, 12, 40));
    }

    /** After every handle is gone and the table collected, only the variables' nodes remain. */
    void assertNoNodeLeaked() {
        f.gc();
        assertEquals(2 + 2 * N, f.getNodeNum());
    }

    @Test
    void compoundAssignmentsReleaseTheReceiversOldNode() {
        Random rnd = new Random(4);
        TT acc = TT.of(N, x -> true);
        CorvaneBDD A = f.one();
        for (int i = 0; i < 30; i++) {
            TT t = TT.random(rnd, N);
            if (i % 2 == 0) {
                A.andWith(t.build(f));
                acc = acc.apply(t, BDDFactory.Op.AND);
            } else {
                A.orWith(t.build(f));
                acc = acc.apply(t, BDDFactory.Op.OR);
            }
            assertEquals(acc, TT.of(A, N));
        }
        A.free();
        assertNoNodeLeaked();
    }

    @Test
    void scopesFreeWhatTheyMadeExceptWhatIsKept() {
        Random rnd = new Random(8);
        int before = f.liveHandles();
        TT a = TT.random(rnd, N);
        CorvaneBDD kept, inner, dropped;
        try (CorvaneFactory.Scope s = f.scope()) {
            dropped = TT.random(rnd, N).build(f);
            try (CorvaneFactory.Scope t = f.scope()) {
                inner = t.keep(a.build(f)); // passes to the outer scope
                f.varVector(3, 0);
            }
            assertFalse(inner.isFreed());
            kept = s.keep(inner.id());
        }
        assertTrue(dropped.isFreed() && inner.isFreed());
        assertEquals(a, TT.of(kept, N));
        assertEquals(before + 1, f.liveHandles());
        kept.close();
        assertNoNodeLeaked();
    }

    /** Handles made here become unreachable when it returns. */
    int abandon(int count) {
        Random rnd = new Random(9);
        for (int i = 0; i < count; i++) {
            TT.random(rnd, N).build(f).not();
        }
        return f.liveHandles();
    }

    @Test
    void abandonedHandlesAreReleasedWithoutAnyCall() throws InterruptedException {
        int before = f.liveHandles();
        assertTrue(abandon(300) > before + 300);
        // Only the JVM's collector and the cleaner thread act here; 60 s is a safety net.
        for (int i = 0; i < 600 && f.liveHandles() > before; i++) {
            System.gc();
            Thread.sleep(100);
        }
        assertEquals(before, f.liveHandles());
        assertNoNodeLeaked();
    }

    @Test
    void collectionStatisticsDescribeTheTable() {
        List<long[]> seen = new ArrayList<>();
        f.addListener(new BDDFactory.Listener() {
            @Override
            public void gc(boolean pre, GCStats s) {
                seen.add(new long[] {pre ? 1 : 0, s.nodes, s.freenodes, s.num});
            }
        });
        Random rnd = new Random(2);
        CorvaneBDD keep = TT.random(rnd, N).build(f);
        TT.random(rnd, N).build(f).free();
        int used = f.getNodeNum();
        seen.clear();
        f.gc();
        assertEquals(2, seen.size());
        long[] pre = seen.get(0), post = seen.get(1);
        assertEquals(f.getNodeTableSize(), post[1]);
        assertEquals(f.getNodeTableSize() - used, pre[2], "free nodes before");
        assertEquals(f.getNodeTableSize() - f.getNodeNum(), post[2], "free nodes after");
        assertTrue(post[2] > pre[2]);
        assertEquals(pre[3] + 1, post[3]);
        keep.free();
    }

    @Test
    void closedFactoriesAndFreedHandlesRefuseUse() {
        CorvaneBDD x = f.ithVar(1);
        CorvaneBDD y = f.ithVar(2);
        y.free();
        IllegalArgumentException e = assertThrows(IllegalArgumentException.class, () -> x.and(y));
        assertTrue(e.getMessage().startsWith("that"));
        f.close();
        assertThrows(IllegalStateException.class, x::not);
        assertThrows(IllegalStateException.class, () -> f.ithVar(0));
        x.free();
        f = CorvaneFactory.init(300, 100, N);
        CorvaneBDD z = f.ithVar(0);
        e = assertThrows(IllegalArgumentException.class, () -> z.and(x));
        assertTrue(e.getMessage().startsWith("that"));
    }
}
