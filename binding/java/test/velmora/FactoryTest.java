package velmora;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.util.Random;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import velmora.BDDFactory.ReorderMethod;
import velmora.CorvaneFactory.CorvaneBDD;
import velmora.CorvaneFactory.CorvaneBDDPairing;

/** Factory controls: save and load, variable order, blocks, duplication. */
class FactoryTest {
    static final int N = 6;
    CorvaneFactory f;
    final Random rnd = new Random(5);
    @TempDir File dir;

    @BeforeEach
    void start() {
        f = CorvaneFactory.init(2000, 200, N);
    }

    @AfterEach
    void stop() {
        f.done();
    }

    @Test
    void savedBddsLoadBackUnderAnyOrder() throws Exception {
        TT a = TT.random(rnd, N);
        CorvaneBDD A = a.build(f);
        String file = new File(dir, "a.bdd").getPath();
        f.save(file, A);
        assertEquals(A, f.load(file));
        int[] order = {5, 3, 1, 0, 2, 4};
        f.setVarOrder(order);
        assertArrayEquals(order, f.getVarOrder());
        for (int v = 0; v < N; v++) {
            assertEquals(v, f.level2Var(f.var2Level(v)));
        }
        CorvaneBDD B = f.load(file);
        assertEquals(A, B);
        assertEquals(a, TT.of(B, N));
        f.swapVar(5, 4);
        assertEquals(0, f.var2Level(4));
        assertEquals(a, TT.of(A, N));
    }

    /** (x0 & x3) | (x1 & x4) | (x2 & x5): much smaller with the halves interleaved. */
    CorvaneBDD pairs() {
        CorvaneBDD r = f.zero();
        for (int i = 0; i < 3; i++) {
            r.orWith(f.ithVar(i).and(f.ithVar(i + 3)));
        }
        return r;
    }

    @Test
    void theFixedFlagOfABlockDecidesWhetherItsContentsMove() {
        CorvaneBDD r = pairs();
        TT t = TT.of(r, N);
        int before = r.nodeCount();
        for (boolean fixed : new boolean[] {true, false}) {
            // One block over all variables, a movable block per variable inside it.
            f.clearVarBlocks();
            if (fixed) {
                f.addVarBlock(f.makeSet(0, 1, 2, 3, 4, 5), true);
            } else {
                f.addVarBlock(0, 5, false);
            }
            f.varBlockAll();
            f.reorder(ReorderMethod.SIFT);
            assertEquals(t, TT.of(r, N));
            if (fixed) {
                assertArrayEquals(new int[] {0, 1, 2, 3, 4, 5}, f.getVarOrder());
                assertEquals(before, r.nodeCount());
            } else {
                assertTrue(r.nodeCount() < before, "a movable block is reordered");
            }
        }
    }

    @Test
    void duplicatingAVariableKeepsPairingsRight() {
        CorvaneBDDPairing p = f.makePair(new int[] {1, 2}, new int[] {2, 1});
        TT a = TT.random(rnd, N);
        CorvaneBDD A = a.build(f);
        int n = f.duplicateVar(0);
        assertEquals(N, n);
        assertEquals(N + 1, f.varNum());
        assertEquals(f.var2Level(0) + 1, f.var2Level(n));
        // Paths through variable 0 now also need the new variable at 0.
        TT old = TT.of(f.ithVar(0).and(A), N + 1);
        assertEquals(old.apply(TT.var(N + 1, n), BDDFactory.Op.DIFF), old);
        // The pairing still swaps 1 and 2 and leaves variable 0 alone.
        CorvaneBDD g = f.ithVar(0).and(f.ithVar(1));
        assertEquals(f.ithVar(0).and(f.ithVar(2)), g.replace(p));
        assertEquals(f.ithVar(0).and(f.ithVar(2)), g.veccompose(p));
    }
}
