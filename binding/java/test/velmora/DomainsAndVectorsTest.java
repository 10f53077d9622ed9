package velmora;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.util.function.IntBinaryOperator;
import java.util.function.IntPredicate;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import velmora.CorvaneFactory.CorvaneBDD;
import velmora.CorvaneFactory.CorvaneBDDPairing;

/**
 * Finite domains and bit vectors against plain integer arithmetic: every
 * result is read back as a truth table and compared under every assignment.
 */
class DomainsAndVectorsTest {
    CorvaneFactory f;

    @BeforeEach
    void start() {
        f = CorvaneFactory.init(20_000, 2_000);
    }

    @AfterEach
    void stop() {
        f.done();
    }

    /** The value a domain holds under assignment a (bit v of a = variable v). */
    static int value(int[] vars, int a) {
        int x = 0;
        for (int i = 0; i < vars.length; i++) {
            x |= (a >>> vars[i] & 1) << i;
        }
        return x;
    }

    void assertTable(IntPredicate expected, CorvaneBDD b, String what) {
        int n = f.varNum();
        assertEquals(TT.of(n, expected), TT.of(b, n), what);
        b.free();
    }

    @Test
    void domainsEncodeTheirValues() {
        BDDDomain[] d = f.extDomain(5, 5, 4);
        int n = f.varNum();
        assertEquals(3 + 3 + 2, n);
        int[] v0 = d[0].vars(), v1 = d[1].vars(), v2 = d[2].vars();
        assertEquals(5, d[1].size());
        assertEquals(3, d[1].varNum());
        for (int x = 0; x < 5; x++) {
            int xx = x;
            assertTable(a -> value(v0, a) == xx, d[0].ithVar(x), "ithVar " + x);
            for (int y = x; y < 5; y++) {
                int yy = y;
                assertTable(a -> value(v1, a) >= xx && value(v1, a) <= yy, d[1].varRange(x, y), "range");
            }
        }
        assertTable(a -> value(v0, a) < 5, d[0].domain(), "domain");
        assertTable(a -> value(v0, a) == value(v1, a), d[0].buildEquals(d[1]), "equals");
        assertTable(a -> value(v2, a) == 1 || value(v2, a) == 3, d[2].valueSet(1, 3), "value set");

        // Renaming domain 0 to domain 1, and scanning values back.
        try (CorvaneBDDPairing p = f.makePair().set(d[0], d[1]); CorvaneBDD x3 = d[0].ithVar(3);
                CorvaneBDD y2 = d[2].ithVar(2); CorvaneBDD both = x3.and(y2)) {
            assertTable(a -> value(v1, a) == 3, x3.replace(p), "replace");
            assertEquals(3, d[0].scanVar(both));
            assertArrayEquals(new int[] {3, 0, 2}, both.scanAllVar());
            assertEquals("<0:3, 2:2>", both.toDomainSetString().trim());
        }
        try (CorvaneBDD s = f.makeSet(d[2], d[0])) {
            assertArrayEquals(new BDDDomain[] {d[0], d[2]}, s.scanSetDomains());
            assertTable(a -> true, s.exist(s), "set is a variable set");
        }

        // Overlapping two power-of-two domains: the first gives the low bits.
        BDDDomain[] e = f.extDomain(4, 2);
        BDDDomain o = f.overlapDomain(e[0], e[1]);
        assertEquals(8, o.size());
        int[] w0 = e[0].vars(), w1 = e[1].vars();
        for (int x = 0; x < 8; x++) {
            int xx = x;
            assertTable(a -> value(w0, a) + 4 * value(w1, a) == xx, o.ithVar(x), "overlap " + x);
        }
        assertEquals(o, f.getDomain(f.numberOfDomains() - 1));
    }

    static final int W = 3, M = (1 << W) - 1;

    BDDBitVector x, y;

    void operands() {
        f.setVarNum(2 * W + 1);
        x = f.varVector(W, 0);
        y = f.varVector(W, W);
    }

    int X(int a) {
        return a & M;
    }

    int Y(int a) {
        return a >>> W & M;
    }

    /** Every bit of v against the integer function of the assignment. */
    void assertVector(IntBinaryOperator expected, BDDBitVector v, int width, String what) {
        assertEquals(width, v.width(), what);
        int n = f.varNum();
        for (int i = 0; i < width; i++) {
            int bit = i;
            assertTable(a -> (expected.applyAsInt(X(a), Y(a)) >>> bit & 1) != 0, v.bit(i), what + " bit " + i);
        }
        v.free();
        assertEquals(n, f.varNum());
    }

    @Test
    void vectorArithmeticMatchesIntegers() {
        operands();
        CorvaneBDD zero = f.zero(), one = f.one();
        assertVector((p, q) -> p + q, x.add(y), W, "add");
        assertVector((p, q) -> p - q, x.sub(y), W, "sub");
        assertVector((p, q) -> p * q, x.mul(y), 2 * W, "mul");
        assertVector((p, q) -> p & q, x.map2(y, BDDFactory.Op.AND), W, "and");
        assertVector((p, q) -> ~p, x.not(), W, "not");
        assertVector((p, q) -> p, x.coerce(W + 2), W + 2, "widen");
        assertVector((p, q) -> p & 3, x.coerce(2), 2, "narrow");
        BDDBitVector[] qr = x.divmod(y);
        assertVector((p, q) -> q == 0 ? M : p / q, qr[0], W, "div");
        assertVector((p, q) -> q == 0 ? p : p % q, qr[1], W, "mod");
        for (int c = 1; c <= M + 1; c++) {
            int cc = c;
            assertVector((p, q) -> p * cc, x.mul(c), W, "mul " + c);
            qr = x.divmod(c);
            assertVector((p, q) -> p / cc, qr[0], W, "div " + c);
            assertVector((p, q) -> p % cc, qr[1], W, "mod " + c);
        }
        for (int k = 0; k <= W + 1; k++) {
            int kk = k, ones = k >= W ? M : (1 << k) - 1;
            assertVector((p, q) -> p << kk, x.shl(k, zero), W, "shl " + k);
            assertVector((p, q) -> p << kk | ones, x.shl(k, one), W, "shl ones " + k);
            assertVector((p, q) -> kk >= W ? 0 : p >>> kk, x.shr(k, zero), W, "shr " + k);
        }
        assertVector((p, q) -> q >= W ? 0 : p << q, x.shl(y, zero), W, "shl by vector");
        assertVector((p, q) -> q >= W ? M : (p >>> q) | (M << (W - q) & M), x.shr(y, one), W, "shr ones by vector");
        try (CorvaneBDD c = f.ithVar(2 * W)) {
            BDDBitVector v = BDDBitVector.ite(c, x, y);
            for (int i = 0; i < W; i++) {
                int bit = i;
                assertTable(a -> (((a >>> 2 * W & 1) != 0 ? X(a) : Y(a)) >>> bit & 1) != 0, v.bit(i), "ite bit " + i);
            }
            v.free();
        }
        IntBinaryOperator[] cmp = {(p, q) -> p < q ? 1 : 0, (p, q) -> p <= q ? 1 : 0, (p, q) -> p > q ? 1 : 0,
            (p, q) -> p >= q ? 1 : 0, (p, q) -> p == q ? 1 : 0, (p, q) -> p != q ? 1 : 0};
        CorvaneBDD[] got = {x.lth(y), x.lte(y), x.gth(y), x.gte(y), x.equ(y), x.neq(y)};
        for (int i = 0; i < 6; i++) {
            IntBinaryOperator c = cmp[i];
            assertTable(a -> c.applyAsInt(X(a), Y(a)) == 1, got[i], "comparison " + i);
        }
        try (BDDBitVector c5 = f.constantVector(W, 5); BDDBitVector m1 = f.constantVector(W + 1, -1)) {
            assertEquals(5, c5.val());
            assertEquals(15, m1.val());
            assertThrows(IllegalStateException.class, x::val);
            assertThrows(BDDException.class, () -> x.add(m1));
        }
        x.free();
        y.free();
        zero.free();
        one.free();
    }
}
