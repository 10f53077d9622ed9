package velmora;

import java.lang.ref.Cleaner;
import java.util.Objects;
import velmora.BDDFactory.Op;
import velmora.CorvaneFactory.CorvaneBDD;

/**
 * A vector of BDDs standing for an unsigned integer, bit 0 least significant.
 * Each bit holds an engine reference until the vector is closed. Operations
 * never change their operands; arithmetic is modulo 2^width unless said
 * otherwise. Made by {@link CorvaneFactory#constantVector},
 * {@link CorvaneFactory#varVector(int, int)} and {@link BDDDomain#vector()}.
 */
public final class BDDBitVector implements AutoCloseable {
    final CorvaneFactory factory;
    private final Bits res;
    private final Cleaner.Cleanable cleanable;

    static final class Bits extends CorvaneFactory.Resource {
        final int[] bits;

        Bits(CorvaneFactory factory, int[] bits) {
            super(factory);
            this.bits = bits;
        }

        @Override
        void release() {
            CorvaneFactory.delRefs0(bits);
        }
    }

    BDDBitVector(CorvaneFactory factory, int[] bits) {
        this.factory = factory;
        this.res = new Bits(factory, bits);
        this.cleanable = CorvaneFactory.register(this, res);
    }

    /** The bits (lock held); refused once closed or after the factory shut down. */
    private int[] bits() {
        if (res.released) {
            throw new IllegalStateException("the bit vector has been freed");
        }
        return res.bits;
    }

    private int[] arg(BDDBitVector v, String name) {
        Objects.requireNonNull(v, name);
        if (v.factory != factory || v.res.released) {
            throw new IllegalArgumentException(name + " has been freed or belongs to another factory");
        }
        return v.res.bits;
    }

    private void open() {
        if (!factory.isInitialized()) {
            throw new IllegalStateException("the factory has been shut down");
        }
    }

    private BDDBitVector op(int what, BDDBitVector that, int x, int y) {
        open();
        CorvaneFactory.enter();
        try {
            return factory.vector(CorvaneFactory.bvec0(what, bits(), that == null ? null : arg(that, "that"), x, y));
        } finally {
            CorvaneFactory.exit();
        }
    }

    private CorvaneBDD compare(int what, BDDBitVector that) {
        open();
        CorvaneFactory.enter();
        try {
            return factory.wrap(CorvaneFactory.bvecCompare0(what, bits(), arg(that, "that")));
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * The number of bits.
     *
     * @return the width
     */
    public int width() {
        CorvaneFactory.enter();
        try {
            return bits().length;
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * One bit.
     *
     * @param i 0 for the least significant
     * @return a new handle
     */
    public CorvaneBDD bit(int i) {
        open();
        CorvaneFactory.enter();
        try {
            int[] b = bits();
            if (i < 0 || i >= b.length) {
                throw new IllegalArgumentException("i " + i + " lies outside 0.." + (b.length - 1));
            }
            return factory.wrap(b[i]);
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * Whether every bit is a constant.
     *
     * @return true for a constant vector
     */
    public boolean isConst() {
        CorvaneFactory.enter();
        try {
            for (int b : bits()) {
                if (b > 1) {
                    return false;
                }
            }
            return true;
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * The value of a constant vector, modulo 2^64.
     *
     * @return the value
     * @throws IllegalStateException when a bit is not constant
     */
    public long val() {
        CorvaneFactory.enter();
        try {
            long v = 0;
            int[] b = bits();
            for (int i = b.length - 1; i >= 0; i--) {
                if (b[i] > 1) {
                    throw new IllegalStateException("bit " + i + " is not constant");
                }
                v = v << 1 | b[i];
            }
            return v;
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * This vector truncated or zero-extended.
     *
     * @param width the new width, not negative
     * @return a new vector
     */
    public BDDBitVector coerce(int width) {
        if (width < 0) {
            throw new IllegalArgumentException("width must not be negative, not " + width);
        }
        return op(4, null, width, 0);
    }

    /**
     * The sum.
     *
     * @param that a vector of the same width
     * @return a new vector
     */
    public BDDBitVector add(BDDBitVector that) {
        return op(5, Objects.requireNonNull(that, "that"), 0, 0);
    }

    /**
     * The difference.
     *
     * @param that a vector of the same width
     * @return a new vector
     */
    public BDDBitVector sub(BDDBitVector that) {
        return op(6, Objects.requireNonNull(that, "that"), 0, 0);
    }

    /**
     * The exact product, of the sum of both widths.
     *
     * @param that any vector
     * @return a new vector
     */
    public BDDBitVector mul(BDDBitVector that) {
        return op(7, Objects.requireNonNull(that, "that"), 0, 0);
    }

    /**
     * The product with a constant, of this width.
     *
     * @param c the constant
     * @return a new vector
     */
    public BDDBitVector mul(int c) {
        return op(8, null, c, 0);
    }

    private BDDBitVector[] divide(BDDBitVector that, int c) {
        open();
        CorvaneFactory.enter();
        try {
            int[] both = CorvaneFactory.bvecDiv0(bits(), that == null ? null : arg(that, "that"), c);
            int n = both.length / 2;
            int[] q = new int[n], r = new int[n];
            System.arraycopy(both, 0, q, 0, n);
            System.arraycopy(both, n, r, 0, n);
            return new BDDBitVector[] {factory.vector(q), factory.vector(r)};
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * Quotient and remainder; where {@code that} is 0 the quotient is all ones and the remainder this.
     *
     * @param that a vector of the same width
     * @return the quotient and the remainder, two new vectors
     */
    public BDDBitVector[] divmod(BDDBitVector that) {
        return divide(Objects.requireNonNull(that, "that"), 0);
    }

    /**
     * Quotient and remainder by a positive constant.
     *
     * @param c the divisor, positive
     * @return the quotient and the remainder, two new vectors
     */
    public BDDBitVector[] divmod(int c) {
        if (c <= 0) {
            throw new IllegalArgumentException("c must be positive, not " + c);
        }
        return divide(null, c);
    }

    private int fillArg(CorvaneBDD fill) {
        return factory.arg(fill, "fill");
    }

    private BDDBitVector shift(int what, BDDBitVector amount, int pos, CorvaneBDD fill) {
        open();
        CorvaneFactory.enter();
        try {
            int c = fillArg(fill);
            int[] r = amount == null ? CorvaneFactory.bvec0(what, bits(), null, pos, c)
                    : CorvaneFactory.bvec0(what, bits(), arg(amount, "amount"), c, 0);
            return factory.vector(r);
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * Shifted left by a fixed amount.
     *
     * @param pos bits, not negative
     * @param fill the vacated bits
     * @return a new vector
     */
    public BDDBitVector shl(int pos, CorvaneBDD fill) {
        if (pos < 0) {
            throw new IllegalArgumentException("pos must not be negative, not " + pos);
        }
        return shift(9, null, pos, fill);
    }

    /**
     * Shifted right by a fixed amount.
     *
     * @param pos bits, not negative
     * @param fill the vacated bits
     * @return a new vector
     */
    public BDDBitVector shr(int pos, CorvaneBDD fill) {
        if (pos < 0) {
            throw new IllegalArgumentException("pos must not be negative, not " + pos);
        }
        return shift(10, null, pos, fill);
    }

    /**
     * Shifted left by the unsigned amount another vector holds.
     *
     * @param amount any width
     * @param fill the vacated bits
     * @return a new vector
     */
    public BDDBitVector shl(BDDBitVector amount, CorvaneBDD fill) {
        return shift(11, Objects.requireNonNull(amount, "amount"), 0, fill);
    }

    /**
     * Shifted right by the unsigned amount another vector holds.
     *
     * @param amount any width
     * @param fill the vacated bits
     * @return a new vector
     */
    public BDDBitVector shr(BDDBitVector amount, CorvaneBDD fill) {
        return shift(12, Objects.requireNonNull(amount, "amount"), 0, fill);
    }

    /**
     * Bitwise if-then-else.
     *
     * @param cond the condition
     * @param then the bits where it holds
     * @param otherwise the bits where it does not, of the same width
     * @return a new vector
     */
    public static BDDBitVector ite(CorvaneBDD cond, BDDBitVector then, BDDBitVector otherwise) {
        Objects.requireNonNull(then, "then");
        then.open();
        CorvaneFactory.enter();
        try {
            return then.factory.vector(CorvaneFactory.bvec0(13, then.bits(), then.arg(otherwise, "otherwise"),
                    then.factory.arg(cond, "cond"), 0));
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * Bitwise {@code this op that}.
     *
     * @param that a vector of the same width
     * @param op the operator
     * @return a new vector
     */
    public BDDBitVector map2(BDDBitVector that, Op op) {
        return op(14, Objects.requireNonNull(that, "that"), Objects.requireNonNull(op, "op").code, 0);
    }

    /**
     * Bitwise negation.
     *
     * @return a new vector
     */
    public BDDBitVector not() {
        return op(15, null, 0, 0);
    }

    /**
     * {@code this < that}, unsigned.
     *
     * @param that a vector of the same width
     * @return a new handle
     */
    public CorvaneBDD lth(BDDBitVector that) {
        return compare(0, that);
    }

    /**
     * {@code this <= that}, unsigned.
     *
     * @param that a vector of the same width
     * @return a new handle
     */
    public CorvaneBDD lte(BDDBitVector that) {
        return compare(1, that);
    }

    /**
     * {@code this > that}, unsigned.
     *
     * @param that a vector of the same width
     * @return a new handle
     */
    public CorvaneBDD gth(BDDBitVector that) {
        return compare(2, that);
    }

    /**
     * {@code this >= that}, unsigned.
     *
     * @param that a vector of the same width
     * @return a new handle
     */
    public CorvaneBDD gte(BDDBitVector that) {
        return compare(3, that);
    }

    /**
     * {@code this == that}.
     *
     * @param that a vector of the same width
     * @return a new handle
     */
    public CorvaneBDD equ(BDDBitVector that) {
        return compare(4, that);
    }

    /**
     * {@code this != that}.
     *
     * @param that a vector of the same width
     * @return a new handle
     */
    public CorvaneBDD neq(BDDBitVector that) {
        return compare(5, that);
    }

    /** Releases the bits; freeing twice does nothing. */
    public void free() {
        CorvaneFactory.enter();
        try {
            cleanable.clean();
        } finally {
            CorvaneFactory.exit();
        }
    }

    /** The same as {@link #free()}. */
    @Override
    public void close() {
        free();
    }

    @Override
    public String toString() {
        return res.released ? "BDDBitVector(freed)" : "BDDBitVector(width " + res.bits.length + ")";
    }
}
