package velmora;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import velmora.BDDFactory.GCStats;
import velmora.CorvaneFactory.CorvaneBDD;

/** The reference protocol across the boundary and the engine's callbacks into Java. */
class ReferencesAndCallbacksTest {
    static final int N = 8;
    CorvaneFactory f;
    final Random rnd = new Random(3);

    @BeforeEach
    void start() {
        f = CorvaneFactory.init(400, 100, N);
    }

    @AfterEach
    void stop() {
        if (f.isInitialized()) {
            f.done();
        }
    }

    /** Builds and frees random functions until the engine has collected garbage `gcs` more times. */
    void churn(int gcs, List<CorvaneBDD> keep) {
        int target = f.getGCStats().num + gcs;
        for (int i = 0; i < 10000 && f.getGCStats().num < target; i++) {
            CorvaneBDD b = TT.random(rnd, N).build(f);
            if (keep != null && i % 2 == 0) {
                keep.add(b);
            } else {
                b.free();
            }
        }
        assertTrue(f.getGCStats().num >= target, "the churn collected garbage");
    }

    @Test
    void referencedResultsSurviveCollectionsAndReleasesAreChecked() {
        TT a = TT.random(rnd, N);
        CorvaneBDD A = a.build(f);
        int root = A.root();
        churn(3, null);
        assertEquals(root, A.root());
        assertEquals(a, TT.of(A, N));

        // The engine refuses to release a node nobody referenced.
        int unreferenced = CorvaneBDD.apply0(A.root(), CorvaneFactory.ithVar0(0), BDDFactory.Op.XOR.code);
        BDDException e = assertThrows(BDDException.class, () -> CorvaneBDD.delRef(unreferenced));
        assertEquals("User called break", e.getMessage());

        // Freed and shut-down handles refuse use; freeing twice is harmless.
        A.free();
        A.free();
        assertThrows(IllegalStateException.class, A::not);
        CorvaneBDD x = f.ithVar(1);
        assertEquals(f.ithVar(1), x);
        f.done();
        assertThrows(IllegalStateException.class, x::not);
        x.free();
    }

    static final class Recorder implements BDDFactory.Listener {
        final List<long[]> gc = new ArrayList<>();
        final List<int[]> resize = new ArrayList<>();
        final List<Boolean> reorder = new ArrayList<>();

        @Override
        public void gc(boolean pre, GCStats s) {
            gc.add(new long[] {pre ? 1 : 0, s.nodes, s.freenodes, s.time, s.sumtime, s.num});
        }

        @Override
        public void resize(int oldsize, int newsize) {
            resize.add(new int[] {oldsize, newsize});
        }

        @Override
        public void reorder(boolean pre) {
            reorder.add(pre);
        }
    }

    @Test
    void callbacksReportCollectionsGrowthAndReorderings() {
        Recorder r = new Recorder();
        f.addListener(r);
        int size = f.getNodeTableSize();
        List<CorvaneBDD> keep = new ArrayList<>();
        for (int i = 0; i < 200 && r.resize.size() < 2; i++) {
            churn(1, keep);
        }

        assertTrue(r.gc.size() >= 4);
        assertEquals(0, r.gc.size() % 2);
        long sum = 0;
        for (int i = 0; i < r.gc.size(); i += 2) {
            long[] pre = r.gc.get(i), post = r.gc.get(i + 1);
            assertEquals(1, pre[0]);
            assertEquals(0, post[0]);
            assertEquals(0, pre[3], "no time before the collection");
            assertEquals(pre[1], post[1], "a collection keeps the table size");
            assertEquals(i / 2 + 1, post[5]);
            assertEquals(pre[5] + 1, post[5]);
            assertTrue(post[2] >= pre[2], "a collection frees nodes");
            assertTrue(post[4] >= sum);
            sum = post[4];
        }
        assertEquals(r.gc.size() / 2, f.getGCStats().num);

        assertTrue(r.resize.size() >= 2, "keeping results made the table grow");
        for (int[] s : r.resize) {
            assertEquals(size, s[0]);
            assertTrue(s[1] > s[0]);
            size = s[1];
        }
        assertEquals(size, f.getNodeTableSize());
        assertEquals(r.resize.size(), f.getResizeStats().num);

        f.varBlockAll();
        f.reorder(BDDFactory.ReorderMethod.SIFT);
        assertEquals(List.of(true, false), r.reorder);
        assertEquals(1, f.getReorderStats().num);
        f.removeListener(r);
        for (CorvaneBDD b : keep) {
            b.free();
        }
    }

    @Test
    void anExceptionFromAListenerReachesTheCallerAndTheEngineGoesOn() {
        int[] calls = {0};
        f.addListener(new BDDFactory.Listener() {
            @Override
            public void gc(boolean pre, GCStats s) {
                if (calls[0]++ == 0) {
                    throw new IllegalStateException("listener failed");
                }
            }
        });
        IllegalStateException e = assertThrows(IllegalStateException.class, () -> churn(1, null));
        assertEquals("listener failed", e.getMessage());
        assertEquals(1, calls[0], "no later event of the failed call reached Java");
        // Still correct afterwards, and later collections are reported again.
        churn(2, null);
        assertTrue(calls[0] >= 3);
        TT a = TT.random(rnd, N);
        assertEquals(a, TT.of(a.build(f), N));
    }
}
