package velmora;

import java.util.List;
import java.util.Objects;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * What a BDD factory reports about the engine's housekeeping: statistics of
 * garbage collections, node-table growth and reorderings, and listeners that
 * are told of each such event.
 */
public abstract class BDDFactory {

    /** Package-private: the engine's factory is the only subclass. */
    BDDFactory() {}

    /** Statistics of the latest garbage collection, written by the engine. */
    public static class GCStats {
        /** Node-table size. */
        public int nodes;
        /** Free nodes. */
        public int freenodes;
        /** Duration of the latest collection, milliseconds. */
        public long time;
        /** Total duration of all collections, milliseconds. */
        public long sumtime;
        /** Number of collections so far. */
        public int num;

        /** Empty statistics, filled by the engine. */
        public GCStats() {}

        @Override
        public String toString() {
            return "Garbage collection #" + num + ": " + nodes + " nodes / " + freenodes + " free / "
                    + time + "ms / " + sumtime + "ms total";
        }
    }

    /** Growth of the node table. */
    public static class ResizeStats {
        /** Number of growths so far. */
        public int num;
        /** Size before the latest growth. */
        public int oldsize;
        /** Size after the latest growth. */
        public int newsize;

        /** Empty statistics, filled as the table grows. */
        public ResizeStats() {}

        @Override
        public String toString() {
            return "Node table growth #" + num + ": " + oldsize + " -> " + newsize;
        }
    }

    /** Reorderings of the variables. */
    public static class ReorderStats {
        /** Number of reordering passes finished so far. */
        public int num;

        /** Empty statistics, counted as reorderings finish. */
        public ReorderStats() {}

        @Override
        public String toString() {
            return "Reorderings: " + num;
        }
    }

    /** The engine's unique-table and operator-cache counters, copied at one moment. */
    public static final class CacheStats {
        /** Lookups in the unique table. */
        public final int uniqueAccess;
        /** Hash-chain links followed in the unique table. */
        public final int uniqueChain;
        /** Unique-table lookups that found the node. */
        public final int uniqueHit;
        /** Unique-table lookups that created the node. */
        public final int uniqueMiss;
        /** Operator-cache hits. */
        public final int opHit;
        /** Operator-cache misses. */
        public final int opMiss;
        /** Level exchanges done by reordering. */
        public final int swapCount;

        CacheStats(int[] v) {
            uniqueAccess = v[0];
            uniqueChain = v[1];
            uniqueHit = v[2];
            uniqueMiss = v[3];
            opHit = v[4];
            opMiss = v[5];
            swapCount = v[6];
        }

        @Override
        public String toString() {
            return "unique: " + uniqueAccess + " accesses, " + uniqueChain + " chain links, " + uniqueHit + " hits, "
                    + uniqueMiss + " misses; operators: " + opHit + " hits, " + opMiss + " misses; swaps: "
                    + swapCount;
        }
    }

    /**
     * Told of engine events while an operation runs, on the thread of that
     * operation. A listener must not call into the factory: such a call throws
     * {@link IllegalStateException}. An exception a listener throws ends the
     * operation's call with that exception once the engine has finished, and
     * later events of the same call are not reported.
     */
    public interface Listener {
        /**
         * Before and after a garbage collection.
         *
         * @param pre true before the collection, false after it
         * @param stats the factory's statistics, just updated
         */
        default void gc(boolean pre, GCStats stats) {}

        /**
         * After the node table grew.
         *
         * @param oldsize size before
         * @param newsize size after
         */
        default void resize(int oldsize, int newsize) {}

        /**
         * Before and after a reordering pass.
         *
         * @param pre true before the pass, false after it
         */
        default void reorder(boolean pre) {}
    }

    /** Filled by the engine before each listener call; read it at any time. */
    protected final GCStats gcstats = new GCStats();
    /** Updated at each growth of the node table. */
    protected final ResizeStats resizestats = new ResizeStats();
    /** Updated after each reordering pass. */
    protected final ReorderStats reorderstats = new ReorderStats();
    /** The listeners, told of events in the order they were added. */
    protected final List<Listener> listeners = new CopyOnWriteArrayList<>();

    /**
     * Statistics of the latest garbage collection.
     *
     * @return the live statistics object
     */
    public GCStats getGCStats() {
        return gcstats;
    }

    /**
     * Statistics of node-table growth.
     *
     * @return the live statistics object
     */
    public ResizeStats getResizeStats() {
        return resizestats;
    }

    /**
     * Statistics of reorderings.
     *
     * @return the live statistics object
     */
    public ReorderStats getReorderStats() {
        return reorderstats;
    }

    /**
     * Adds a listener of engine events.
     *
     * @param listener the listener, not null
     */
    public void addListener(Listener listener) {
        listeners.add(Objects.requireNonNull(listener, "listener"));
    }

    /**
     * Removes a listener added before; nothing happens when it was not added.
     *
     * @param listener the listener
     */
    public void removeListener(Listener listener) {
        listeners.remove(listener);
    }

    /** The operators of {@code apply}, with the engine's codes. */
    public enum Op {
        /** Conjunction. */
        AND(0),
        /** Exclusive or. */
        XOR(1),
        /** Disjunction. */
        OR(2),
        /** Negated conjunction. */
        NAND(3),
        /** Negated disjunction. */
        NOR(4),
        /** Implication. */
        IMP(5),
        /** Equivalence. */
        BIIMP(6),
        /** Left and not right. */
        DIFF(7),
        /** Not left and right. */
        LESS(8),
        /** Right implies left. */
        INVIMP(9);

        final int code;

        Op(int code) {
            this.code = code;
        }
    }

    /** Reordering methods, with the engine's codes. */
    public enum ReorderMethod {
        /** No reordering. */
        NONE(0),
        /** Window permutation of two levels. */
        WIN2(1),
        /** Window permutation of two levels, iterated. */
        WIN2ITE(2),
        /** Sifting. */
        SIFT(3),
        /** Sifting, iterated. */
        SIFTITE(4),
        /** Window permutation of three levels. */
        WIN3(5),
        /** Window permutation of three levels, iterated. */
        WIN3ITE(6),
        /** Random exchanges. */
        RANDOM(7);

        final int code;

        ReorderMethod(int code) {
            this.code = code;
        }

        static ReorderMethod of(int code) {
            for (ReorderMethod m : values()) {
                if (m.code == code) {
                    return m;
                }
            }
            throw new BDDException("Unknown reordering method " + code);
        }
    }
}
