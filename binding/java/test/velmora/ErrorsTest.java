package velmora;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;
import velmora.CorvaneFactory.CorvaneBDD;
import velmora.CorvaneFactory.CorvaneBDDPairing;

/** Every engine error that a caller can provoke reaches Java with its class and message. */
class ErrorsTest {
    CorvaneFactory f;
    @TempDir File dir;

    @BeforeEach
    void start() {
        f = CorvaneFactory.init(1000, 100, 4);
    }

    @AfterEach
    void stop() {
        if (f.isInitialized()) {
            f.done();
        }
    }

    void expect(Class<? extends Throwable> cls, String message, Executable call) {
        Throwable t = assertThrows(cls, call);
        assertEquals(cls, t.getClass());
        assertEquals(message, t.getMessage());
        // The engine stays usable and the next call raises nothing.
        CorvaneBDD x = f.ithVar(1).and(f.nithVar(2));
        assertEquals(1.0 * (1 << (f.varNum() - 2)), x.satCount());
    }

    @Test
    void engineErrorsMapToTheirExceptions() throws IOException {
        CorvaneBDD x0 = f.ithVar(0), x1 = f.ithVar(1), both = x0.and(x1);
        File bad = new File(dir, "bad.bdd");
        Files.writeString(bad.toPath(), "3 2\n0 1\n7 9 9 9\n");

        expect(BDDException.class, "Unknown variable", () -> f.ithVar(4));
        expect(BDDException.class, "Value out of range", () -> f.setMinFreeNodes(101));
        expect(BDDException.class, "bdd_init() called twice", () -> CorvaneFactory.init(1000, 100));
        expect(IOException.class, "File operation failed", () -> f.load(new File(dir, "none").getPath()));
        expect(IOException.class, "Incorrect file format", () -> f.load(bad.getPath()));
        int unreferenced = CorvaneBDD.apply0(x0.root(), x1.root(), BDDFactory.Op.OR.code);
        expect(BDDException.class, "User called break", () -> CorvaneBDD.delRef(unreferenced));
        expect(BDDException.class, "Cannot allocate fewer nodes than already in use", () -> f.setMaxNodeNum(10));
        expect(BDDException.class, "Unknown operator", () -> CorvaneBDD.apply0(x0.root(), x1.root(), 42));
        expect(BDDException.class, "Bad variable block operation", () -> f.addVarBlock(f.one(), false));
        expect(BDDException.class, "Trying to decrease the number of variables", () -> f.setVarNum(2));
        expect(BDDException.class, "Trying to replace with variables already in the bdd",
                () -> both.replace(f.makePair().set(0, 1)));
        expect(BDDException.class, "Unknown BDD - was not in node table", () -> CorvaneBDD.not0(1 << 20));
        expect(BDDException.class, "Bad size argument", () -> f.setMaxIncrease(-1));
        expect(IllegalArgumentException.class, "array size != number of vars", () -> f.setVarOrder(new int[] {0, 1, 2}));
        expect(IllegalArgumentException.class, "array sizes do not match",
                () -> f.makePair().set(new int[] {0, 1}, new int[] {2, 3, 1}));
    }

    @Test
    void nodeLimitIsStickyUntilCleared() {
        f.setMaxNodeNum(f.getNodeTableSize() + 1);
        // Build until the limit is hit: the engine refuses to go past it.
        Throwable t = assertThrows(BDDException.class, () -> {
            CorvaneBDD acc = f.zero();
            for (int i = 0; i < 1 << 16; i++) {
                f.extVarNum(1);
                acc = acc.xor(f.ithVar(f.varNum() - 1));
            }
        });
        assertEquals("Number of nodes reached user defined maximum", t.getMessage());
        f.setMaxNodeNum(0);
        f.clearError();
        assertEquals(2.0, f.ithVar(0).or(f.ithVar(1)).pathCount());
    }

    @Test
    void quietCasesRaiseNothing() {
        CorvaneBDD.delRef(-1);
        CorvaneBDDPairing.free0(0);
        assertEquals(100, f.getCacheSize());
        f.setIncreaseFactor(3.0);
        assertEquals(3.0, f.setIncreaseFactor(2.5));
        CorvaneFactory.done0();
        assertFalse(CorvaneFactory.isInitialized0());
        // Without a running engine there is no handler, so no exception.
        assertEquals(0, CorvaneFactory.ithVar0(99));
    }
}
