package velmora;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Random;
import org.junit.jupiter.api.Test;
import velmora.BDDFactory.Op;
import velmora.BDDFactory.ReorderMethod;
import velmora.CorvaneFactory.CorvaneBDD;
import velmora.CorvaneFactory.CorvaneBDDPairing;

/**
 * A long random sequence of Java-level operations under automatic
 * reordering, every result checked against its truth table.
 */
class ReorderSequenceTest {
    static final int N = 10;

    @Test
    void randomOperationsStayRightWhileTheEngineReorders() {
        CorvaneFactory f = CorvaneFactory.init(100, 100, N);
        try {
            f.varBlockAll();
            f.autoReorder(ReorderMethod.SIFT);
            assertEquals(ReorderMethod.SIFT, f.getReorderMethod());
            Random rnd = new Random(11);
            int k = 12;
            CorvaneBDD[] pool = new CorvaneBDD[k];
            TT[] tts = new TT[k];
            // Half random functions (large enough to trigger reordering), half variables.
            for (int i = 0; i < k; i++) {
                tts[i] = i % 2 == 0 ? TT.random(rnd, N) : TT.var(N, i % N);
                pool[i] = tts[i].build(f);
            }
            for (int step = 0; step < 600; step++) {
                int i = rnd.nextInt(k), j = rnd.nextInt(k), l = rnd.nextInt(k);
                CorvaneBDD a = pool[i], b = pool[j];
                TT ta = tts[i], tb = tts[j];
                CorvaneBDD r;
                TT t;
                int v = rnd.nextInt(N);
                switch (rnd.nextInt(7)) {
                    case 0: case 1: {
                        Op op = Op.values()[rnd.nextInt(10)];
                        r = a.apply(b, op);
                        t = ta.apply(tb, op);
                        break;
                    }
                    case 2:
                        r = a.ite(b, pool[l]);
                        t = ta.ite(tb, tts[l]);
                        break;
                    case 3: {
                        CorvaneBDD set = f.makeSet(v, (v + 3) % N);
                        boolean ex = rnd.nextBoolean();
                        r = ex ? a.exist(set) : a.forAll(set);
                        t = ta.quant(new int[] {v, (v + 3) % N}, ex ? 0 : 1);
                        set.free();
                        break;
                    }
                    case 4: {
                        int w = (v + 1 + rnd.nextInt(N - 1)) % N;
                        CorvaneBDDPairing p = f.makePair().set(new int[] {v, w}, new int[] {w, v});
                        r = a.replace(p);
                        p.free();
                        TT[] s = new TT[N];
                        for (int u = 0; u < N; u++) {
                            s[u] = TT.var(N, u == v ? w : u == w ? v : u);
                        }
                        t = ta.compose(s);
                        break;
                    }
                    case 5: {
                        r = a.compose(b, v);
                        TT[] s = new TT[N];
                        for (int u = 0; u < N; u++) {
                            s[u] = u == v ? tb : TT.var(N, u);
                        }
                        t = ta.compose(s);
                        break;
                    }
                    default: {
                        CorvaneBDD cube = f.buildCube(1, v, (v + 5) % N);
                        r = a.restrict(cube);
                        t = ta.cofactor(v, false).cofactor((v + 5) % N, true);
                        cube.free();
                        break;
                    }
                }
                assertEquals(t, TT.of(r, N), "step " + step);
                assertEquals(t.count() * 1.0, r.satCount(), "step " + step);
                pool[l].free();
                pool[l] = r;
                tts[l] = t;
            }
            assertTrue(f.getReorderStats().num > 0, "the sequence triggered reorderings");
            for (int i = 0; i < k; i++) {
                assertEquals(tts[i], TT.of(pool[i], N));
            }
        } finally {
            f.done();
        }
    }
}
