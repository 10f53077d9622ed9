package velmora;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
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
        if (t instanceof BDDException) {
            BDDException e = (BDDException) t;
            assertEquals(e.getCode(), e.getReason().code());
        }
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
        expect(BDDException.class, "Bad size argument", () -> CorvaneFactory.setMaxIncrease0(-1));
        expect(IllegalArgumentException.class, "array size != number of vars",
                () -> CorvaneFactory.setVarOrder0(new int[] {0, 1, 2}));
        expect(IllegalArgumentException.class, "array sizes do not match",
                () -> f.makePair().set(new int[] {0, 1}, new int[] {2, 3, 1}));
    }

    @Test
    void theNodeLimitFailsEveryCallFastAndTheNextCallIsFree() {
        int[] collections = {0};
        f.addListener(new BDDFactory.Listener() {
            @Override
            public void gc(boolean pre, BDDFactory.GCStats s) {
                collections[0] += pre ? 1 : 0;
            }
        });
        f.setVarNum(16);
        f.setMaxNodeNum(f.getNodeTableSize() + 1);
        java.util.Random rnd = new java.util.Random(6);
        for (int round = 0; round < 3; round++) {
            int[] during = {0};
            // Far more nodes than the cap: a growing xor of random conjunctions.
            BDDException e = assertThrows(BDDException.class, () -> {
                try (CorvaneBDD a = f.zero()) {
                    for (int i = 0; i < 4000; i++) {
                        CorvaneBDD t = f.ithVar(rnd.nextInt(16)).and(f.ithVar(rnd.nextInt(16)));
                        during[0] = collections[0];
                        a.applyWith(t, BDDFactory.Op.XOR);
                    }
                }
            });
            assertEquals(BDDException.Reason.NODENUM, e.getReason());
            assertEquals(-17, e.getCode());
            assertEquals("Number of nodes reached user defined maximum", e.getMessage());
            // The failing call gave up after the collection that freed too little.
            assertTrue(collections[0] - during[0] <= 2, "collections: " + (collections[0] - during[0]));
            int before = collections[0];
            // The condition ended with that call: a small request succeeds at once.
            try (CorvaneBDD x = f.ithVar(0).or(f.ithVar(1))) {
                assertEquals(3 << 14, x.satCountExact().intValue());
            }
            assertTrue(collections[0] - before <= 1);
        }
    }

    /** Each bad argument is refused at the call, naming the parameter, and leaves the engine as it was. */
    @Test
    void badArgumentsAreRefusedAtTheCall() {
        CorvaneBDD x = f.ithVar(0);
        CorvaneBDD freed = f.ithVar(1);
        freed.free();
        int[] order = f.getVarOrder();
        Object[][] table = {
            {IllegalArgumentException.class, "order names variable 0 twice", (Executable) () -> f.setVarOrder(new int[] {0, 0, 1, 2})},
            {IllegalArgumentException.class, "order[3] = 4", (Executable) () -> f.setVarOrder(new int[] {0, 1, 2, 4})},
            {IllegalArgumentException.class, "order has 3 entries", (Executable) () -> f.setVarOrder(new int[] {0, 1, 2})},
            {NullPointerException.class, "order", (Executable) () -> f.setVarOrder(null)},
            {IllegalArgumentException.class, "size must not be negative", (Executable) () -> f.setNodeTableSize(-1)},
            {IllegalArgumentException.class, "size must not be negative", (Executable) () -> f.setMaxNodeNum(-5)},
            {IllegalArgumentException.class, "size must not be negative", (Executable) () -> f.setMaxIncrease(-1)},
            {IllegalArgumentException.class, "nodenum must be positive", (Executable) () -> CorvaneFactory.init(-1, -1)},
            {IllegalArgumentException.class, "num must not be negative", (Executable) () -> f.extVarNum(-2)},
            {NullPointerException.class, "listener", (Executable) () -> f.addListener(null)},
            {NullPointerException.class, "that", (Executable) () -> x.and(null)},
            {NullPointerException.class, "op", (Executable) () -> x.apply(x, null)},
            {IllegalArgumentException.class, "varset has been freed", (Executable) () -> x.exist(freed)},
            {NullPointerException.class, "file", (Executable) () -> f.save(null, x)},
            {IllegalArgumentException.class, "file must be", (Executable) () -> f.load("a\0b")},
            {IllegalArgumentException.class, "sizes[1] must be positive", (Executable) () -> f.extDomain(4, 0)},
            {IllegalArgumentException.class, "c must be positive", (Executable) () -> f.varVector(2, 0).divmod(0)},
        };
        for (Object[] row : table) {
            @SuppressWarnings("unchecked")
            Class<? extends Throwable> cls = (Class<? extends Throwable>) row[0];
            Throwable t = assertThrows(cls, (Executable) row[2], (String) row[1]);
            assertTrue(t.getMessage().startsWith((String) row[1]), t.getMessage());
        }
        assertArrayEquals(order, f.getVarOrder());
        assertEquals(4, f.varNum());
        assertEquals(0, f.numberOfDomains());
    }

    @Test
    void fileNamesOutsideTheBasicPlaneRoundTrip() throws IOException {
        CorvaneBDD g = f.ithVar(0).xor(f.ithVar(3));
        File file = new File(dir, "r\u00e9sum\u00e9 \ud83d\ude00.bdd");
        if (!CorvaneFactory.fileNameCharset().newEncoder().canEncode(file.getName())) {
            // A platform that cannot name the file is told so, and nothing is written.
            assertThrows(IllegalArgumentException.class, () -> f.save(file.getPath(), g));
            assertEquals(0, dir.list().length);
            return;
        }
        f.save(file.getPath(), g);
        assertTrue(file.exists(), "written under its own name");
        assertEquals(1, dir.list().length);
        assertEquals(g, f.load(file.getPath()));
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
