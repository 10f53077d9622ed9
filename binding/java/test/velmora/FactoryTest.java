package velmora;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

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
        assertEquals(A, f.load(file));
        f.swapVar(5, 4);
        assertEquals(0, f.var2Level(4));
        assertEquals(a, TT.of(A, N));
    }

    /** Both block forms pass the fixed flag: a fixed block keeps its children in place. */
    @Test
    void theFixedFlagOfABlockDecidesWhetherItsContentsMove() {
        // (x0 & x3) | (x1 & x4) | (x2 & x5): much smaller with the halves interleaved.
        CorvaneBDD r = f.zero();
        for (int i = 0; i < 3; i++) {
            r.orWith(f.ithVar(i).and(f.ithVar(i + 3)));
        }
        int before = r.nodeCount();
        for (boolean fixed : new boolean[] {true, false}) {
            f.clearVarBlocks();
            if (fixed) {
                f.addVarBlock(f.makeSet(0, 1, 2, 3, 4, 5), true);
            } else {
                f.addVarBlock(0, 5, false);
            }
            f.varBlockAll();
            f.reorder(ReorderMethod.SIFT);
            assertEquals(fixed, r.nodeCount() == before, "fixed " + fixed);
        }
    }

    @Test
    void duplicatingAVariableKeepsPairingsRight() {
        CorvaneBDDPairing p = f.makePair(new int[] {1, 2}, new int[] {2, 1});
        int n = f.duplicateVar(0);
        assertEquals(N, n);
        assertEquals(N + 1, f.varNum());
        assertEquals(f.var2Level(0) + 1, f.var2Level(n));
        // The pairing still swaps 1 and 2 and leaves variable 0 alone.
        CorvaneBDD g = f.ithVar(0).and(f.ithVar(1));
        assertEquals(f.ithVar(0).and(f.ithVar(2)), g.replace(p));
        assertEquals(f.ithVar(0).and(f.ithVar(2)), g.veccompose(p));
    }
}
