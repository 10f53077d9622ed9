package velmora;

import java.util.Objects;
import velmora.CorvaneFactory.CorvaneBDD;

/**
 * A finite domain: an integer variable with the values 0 to {@code size() - 1},
 * encoded in binary by a block of BDD variables. Made by
 * {@link CorvaneFactory#extDomain} and {@link CorvaneFactory#overlapDomain}.
 */
public final class BDDDomain {
    final CorvaneFactory factory;
    final int index;
    boolean forgotten;

    BDDDomain(CorvaneFactory factory, int index) {
        this.factory = factory;
        this.index = index;
    }

    private int self() {
        return factory.domain(this, "this domain");
    }

    private int query(int what, int arg) {
        CorvaneFactory.enter();
        try {
            return CorvaneFactory.fdd0(what, self(), arg);
        } finally {
            CorvaneFactory.exit();
        }
    }

    private CorvaneBDD build(int what, int arg) {
        CorvaneFactory.enter();
        try {
            return factory.wrap(CorvaneFactory.fdd0(what, self(), arg));
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * The position of this domain among those of its factory.
     *
     * @return 0 for the first declared
     */
    public int getIndex() {
        return index;
    }

    /**
     * The number of values.
     *
     * @return the size
     */
    public int size() {
        return query(2, 0);
    }

    /**
     * The number of BDD variables encoding this domain.
     *
     * @return the width
     */
    public int varNum() {
        return query(3, 0);
    }

    /**
     * The BDD variables of this domain, least significant bit first.
     *
     * @return variable numbers
     */
    public int[] vars() {
        CorvaneFactory.enter();
        try {
            return CorvaneFactory.fddVars0(self());
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * The BDD stating that this domain has the given value.
     *
     * @param value 0 to size() - 1
     * @return a new handle
     */
    public CorvaneBDD ithVar(int value) {
        int size = size();
        if (value < 0 || value >= size) {
            throw new IllegalArgumentException("value " + value + " lies outside 0.." + (size - 1));
        }
        return build(4, value);
    }

    /**
     * The BDD stating that this domain holds one of the given values.
     *
     * @param values values of this domain
     * @return a new handle
     */
    public CorvaneBDD valueSet(int... values) {
        Objects.requireNonNull(values, "values");
        CorvaneBDD r = factory.zero();
        for (int v : values) {
            r.orWith(ithVar(v));
        }
        return r;
    }

    /**
     * The BDD stating that this domain lies in {@code lo..hi}.
     *
     * @param lo the least value
     * @param hi the greatest value
     * @return a new handle (false when lo exceeds hi)
     */
    public CorvaneBDD varRange(int lo, int hi) {
        int size = size();
        if (lo < 0 || lo >= size) {
            throw new IllegalArgumentException("lo " + lo + " lies outside 0.." + (size - 1));
        }
        if (hi < 0 || hi >= size) {
            throw new IllegalArgumentException("hi " + hi + " lies outside 0.." + (size - 1));
        }
        try (BDDBitVector v = vector();
                BDDBitVector l = factory.constantVector(v.width(), lo);
                BDDBitVector h = factory.constantVector(v.width(), hi)) {
            return v.gte(l).andWith(v.lte(h));
        }
    }

    /**
     * The BDD stating that this domain holds a value below its size.
     *
     * @return a new handle
     */
    public CorvaneBDD domain() {
        return build(6, 0);
    }

    /**
     * The variable set of this domain's bits.
     *
     * @return a new handle
     */
    public CorvaneBDD set() {
        return build(5, 0);
    }

    /**
     * The BDD stating that this domain and {@code that} hold the same value.
     *
     * @param that a domain of the same size
     * @return a new handle
     */
    public CorvaneBDD buildEquals(BDDDomain that) {
        CorvaneFactory.enter();
        try {
            return factory.wrap(CorvaneFactory.fdd0(7, self(), factory.domain(that, "that")));
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * The value of this domain in one satisfying assignment of {@code b}.
     *
     * @param b the BDD
     * @return the value, or -1 when b is false
     */
    public int scanVar(CorvaneBDD b) {
        CorvaneFactory.enter();
        try {
            return CorvaneFactory.fdd0(8, factory.arg(b, "b"), self());
        } finally {
            CorvaneFactory.exit();
        }
    }

    /**
     * This domain's bits as a bit vector.
     *
     * @return a new vector
     */
    public BDDBitVector vector() {
        CorvaneFactory.enter();
        try {
            return factory.vector(CorvaneFactory.bvec0(2, null, null, self(), 0));
        } finally {
            CorvaneFactory.exit();
        }
    }

    @Override
    public String toString() {
        return "domain " + index;
    }
}
