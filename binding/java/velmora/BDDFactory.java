package velmora;

import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;

/**
 * What a BDD factory reports about the engine's housekeeping: statistics of
 * garbage collections, node-table growth and reorderings, and listeners that
 * are told of each such event.
 */
public abstract class BDDFactory {

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
        /** Sizes before and after the latest growth. */
        public int oldsize, newsize;

        @Override
        public String toString() {
            return "Node table growth #" + num + ": " + oldsize + " -> " + newsize;
        }
    }

    /** Reorderings of the variables. */
    public static class ReorderStats {
        /** Number of reordering passes finished so far. */
        public int num;

        @Override
        public String toString() {
            return "Reorderings: " + num;
        }
    }

    /**
     * Told of engine events while an operation runs, on the thread of that
     * operation. A listener must not call into the factory; an exception it
     * throws ends the operation's call with that exception once the engine
     * has finished, and later events of the same call are not reported.
     */
    public interface Listener {
        /** Before ({@code pre} true) and after a garbage collection. */
        default void gc(boolean pre, GCStats stats) {}

        /** After the node table grew. */
        default void resize(int oldsize, int newsize) {}

        /** Before ({@code pre} true) and after a reordering pass. */
        default void reorder(boolean pre) {}
    }

    /** Filled by the engine before each listener call; read it at any time. */
    protected final GCStats gcstats = new GCStats();
    protected final ResizeStats resizestats = new ResizeStats();
    protected final ReorderStats reorderstats = new ReorderStats();
    protected final List<Listener> listeners = new CopyOnWriteArrayList<>();

    public GCStats getGCStats() {
        return gcstats;
    }

    public ResizeStats getResizeStats() {
        return resizestats;
    }

    public ReorderStats getReorderStats() {
        return reorderstats;
    }

    public void addListener(Listener l) {
        listeners.add(l);
    }

    public void removeListener(Listener l) {
        listeners.remove(l);
    }

    /** The operators of {@code apply}, with the engine's codes. */
    public enum Op {
        AND(0), XOR(1), OR(2), NAND(3), NOR(4), IMP(5), BIIMP(6), DIFF(7), LESS(8), INVIMP(9);

        final int code;

        Op(int code) {
            this.code = code;
        }
    }

    /** Reordering methods, with the engine's codes. */
    public enum ReorderMethod {
        NONE(0), WIN2(1), WIN2ITE(2), SIFT(3), SIFTITE(4), WIN3(5), WIN3ITE(6), RANDOM(7);

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
