package velmora;

import java.io.File;
import java.io.IOException;
import java.lang.ref.PhantomReference;
import java.lang.ref.Reference;
import java.lang.ref.ReferenceQueue;
import java.util.ArrayList;
import java.util.Collection;
import java.util.HashSet;
import java.util.List;
import java.util.Objects;
import java.util.Set;

/**
 * The factory of BDDs held by the native Corvane engine. The engine is
 * single-instance and single-threaded: there is at most one running factory
 * per process, and its BDDs must be used from one thread at a time.
 *
 * <p>Every {@link CorvaneBDD} holds one reference on its engine node. Call
 * {@link CorvaneBDD#free()} when done with it; a handle that is dropped
 * without {@code free()} is released by the next factory operation that
 * creates a BDD, on that operation's thread.
 */
public final class CorvaneFactory extends BDDFactory {

    /** System property naming the library file to load instead of searching {@code java.library.path}. */
    public static final String LIBRARY_PROPERTY = "corvane.library";

    /** The running factory; the engine reads its statistics object through this field. */
    static CorvaneFactory INSTANCE;

    private static boolean loaded;

    private final ReferenceQueue<Object> abandoned = new ReferenceQueue<>();
    /** Keeps the phantom references of live handles reachable until released. */
    private final Set<Handle> live = new HashSet<>();
    private boolean closed;

    private CorvaneFactory() {}

    /** Loads the native library once: from the file named by {@value #LIBRARY_PROPERTY}, else by name. */
    public static synchronized void loadLibrary() {
        if (loaded) {
            return;
        }
        String path = System.getProperty(LIBRARY_PROPERTY);
        if (path != null) {
            System.load(new File(path).getAbsolutePath());
        } else {
            System.loadLibrary("corvane");
        }
        registerNatives();
        loaded = true;
    }

    /**
     * Starts the engine with an initial node table of {@code nodenum} nodes and
     * operator caches of {@code cachesize} entries. Fails with "bdd_init() called
     * twice" while a factory is running.
     */
    public static synchronized CorvaneFactory init(int nodenum, int cachesize) {
        loadLibrary();
        if (isInitialized0()) {
            initialize0(nodenum, cachesize); // raises the engine's refusal
            return INSTANCE;
        }
        CorvaneFactory f = new CorvaneFactory();
        INSTANCE = f;
        initialize0(nodenum, cachesize);
        if (!isInitialized0()) {
            // The engine reports a failed first start to no handler.
            INSTANCE = null;
            throw new BDDException("the engine could not start with " + nodenum + " nodes");
        }
        return f;
    }

    /** Convenience: starts the engine and declares {@code varnum} variables. */
    public static CorvaneFactory init(int nodenum, int cachesize, int varnum) {
        CorvaneFactory f = init(nodenum, cachesize);
        f.setVarNum(varnum);
        return f;
    }

    public boolean isInitialized() {
        return !closed && isInitialized0();
    }

    /** Stops the engine; every BDD and pairing of this factory becomes unusable. */
    public void done() {
        if (closed) {
            return;
        }
        for (Handle h : live) {
            h.clear();
        }
        live.clear();
        closed = true;
        synchronized (CorvaneFactory.class) {
            if (INSTANCE == this) {
                INSTANCE = null;
            }
        }
        done0();
    }

    // ---- handles ---------------------------------------------------------

    /** Engine resource of a handle, released when the handle is freed or found abandoned. */
    private static final class Handle extends PhantomReference<Object> {
        final int root;
        final long pair;

        Handle(Object owner, ReferenceQueue<Object> q, int root, long pair) {
            super(owner, q);
            this.root = root;
            this.pair = pair;
        }

        void release() {
            if (pair != 0) {
                CorvaneBDDPairing.free0(pair);
            } else {
                CorvaneBDD.delRef(root);
            }
        }
    }

    private Handle register(Object owner, int root, long pair) {
        Handle h = new Handle(owner, abandoned, root, pair);
        live.add(h);
        return h;
    }

    private void release(Handle h) {
        if (h != null && live.remove(h)) {
            h.clear();
            h.release();
        }
    }

    /**
     * Releases the engine resources of handles that were dropped without
     * {@code free()} and have since been garbage collected by the JVM. Runs
     * on its own before every operation that creates a BDD.
     */
    public void releaseAbandoned() {
        for (Reference<?> r; (r = abandoned.poll()) != null;) {
            release((Handle) r);
        }
    }

    private void checkOpen() {
        if (closed) {
            throw new IllegalStateException("the factory has been shut down");
        }
    }

    /** Wraps an unreferenced result: nothing may create nodes before the reference is added. */
    CorvaneBDD wrap(int root) {
        releaseAbandoned();
        CorvaneBDD.addRef(root);
        return new CorvaneBDD(this, root);
    }

    /** Number of BDD and pairing handles currently holding engine resources. */
    public int liveHandles() {
        return live.size();
    }

    // ---- variables and constants -------------------------------------------

    public int setVarNum(int num) {
        checkOpen();
        return setVarNum0(num);
    }

    public int extVarNum(int num) {
        checkOpen();
        return extVarNum0(num);
    }

    public int varNum() {
        checkOpen();
        return varNum0();
    }

    public CorvaneBDD zero() {
        checkOpen();
        return wrap(0);
    }

    public CorvaneBDD one() {
        checkOpen();
        return wrap(1);
    }

    public CorvaneBDD ithVar(int var) {
        checkOpen();
        return wrap(ithVar0(var));
    }

    public CorvaneBDD nithVar(int var) {
        checkOpen();
        return wrap(nithVar0(var));
    }

    /** The cube of {@code value} over {@code vars}; the last variable holds the lowest bit. */
    public CorvaneBDD buildCube(int value, int... vars) {
        checkOpen();
        return wrap(buildCube1(value, Objects.requireNonNull(vars)));
    }

    /** As {@link #buildCube(int, int...)} with variables given as BDDs. */
    public CorvaneBDD buildCube(int value, List<CorvaneBDD> vars) {
        checkOpen();
        return wrap(buildCube0(value, roots(vars)));
    }

    /** The variable set (conjunction of positive variables) of {@code vars}. */
    public CorvaneBDD makeSet(int... vars) {
        checkOpen();
        return wrap(makeSet0(Objects.requireNonNull(vars)));
    }

    /** Number of distinct nodes used by all of {@code bdds} together. */
    public int nodeCount(Collection<CorvaneBDD> bdds) {
        checkOpen();
        return nodeCount0(roots(bdds));
    }

    private static int[] roots(Collection<CorvaneBDD> bdds) {
        int[] r = new int[bdds.size()];
        int i = 0;
        for (CorvaneBDD b : bdds) {
            r[i++] = b.root();
        }
        return r;
    }

    public CorvaneBDDPairing makePair() {
        checkOpen();
        releaseAbandoned();
        long p = makePair0();
        if (p == 0) {
            // makePair0 leaves its error recorded; a checking native raises it now.
            varNum0();
            throw new OutOfMemoryError("Out of memory");
        }
        return new CorvaneBDDPairing(this, p);
    }

    /** A pairing that renames each {@code olds[i]} to {@code news[i]}. */
    public CorvaneBDDPairing makePair(int[] olds, int[] news) {
        CorvaneBDDPairing p = makePair();
        p.set(olds, news);
        return p;
    }

    /** Inserts a new variable right below {@code var} in the order; returns its number. */
    public int duplicateVar(int var) {
        checkOpen();
        return duplicateVar0(var);
    }

    // ---- order and reordering ----------------------------------------------

    public void swapVar(int a, int b) {
        checkOpen();
        swapVar0(a, b);
    }

    public int level2Var(int level) {
        checkOpen();
        return level2Var0(level);
    }

    public int var2Level(int var) {
        checkOpen();
        return var2Level0(var);
    }

    /** {@code order[level]} is the variable placed at that level. */
    public void setVarOrder(int[] order) {
        checkOpen();
        setVarOrder0(Objects.requireNonNull(order));
    }

    public int[] getVarOrder() {
        int[] order = new int[varNum()];
        for (int l = 0; l < order.length; l++) {
            order[l] = level2Var0(l);
        }
        return order;
    }

    public void reorder(ReorderMethod m) {
        checkOpen();
        reorder0(m.code);
    }

    public void autoReorder(ReorderMethod m) {
        checkOpen();
        autoReorder0(m.code);
    }

    public void autoReorder(ReorderMethod m, int maxTimes) {
        checkOpen();
        autoReorder1(m.code, maxTimes);
    }

    public ReorderMethod getReorderMethod() {
        checkOpen();
        return ReorderMethod.of(getReorderMethod0());
    }

    public int getReorderTimes() {
        checkOpen();
        return getReorderTimes0();
    }

    public void disableReorder() {
        checkOpen();
        disableReorder0();
    }

    public void enableReorder() {
        checkOpen();
        enableReorder0();
    }

    public int reorderVerbose(int level) {
        checkOpen();
        return reorderVerbose0(level);
    }

    /** Percentage by which the last reordering shrank the node count. */
    public int reorderGain() {
        checkOpen();
        return reorderGain0();
    }

    public void addVarBlock(CorvaneBDD varset, boolean fixed) {
        checkOpen();
        addVarBlock0(varset.root(), fixed);
    }

    public void addVarBlock(int first, int last, boolean fixed) {
        checkOpen();
        addVarBlock1(first, last, fixed);
    }

    public void varBlockAll() {
        checkOpen();
        varBlockAll0();
    }

    public void clearVarBlocks() {
        checkOpen();
        clearVarBlocks0();
    }

    // ---- settings and statistics -------------------------------------------

    public int setMaxNodeNum(int size) {
        checkOpen();
        return setMaxNodeNum0(size);
    }

    public int setNodeTableSize(int size) {
        checkOpen();
        return setNodeTableSize0(size);
    }

    public int setMinFreeNodes(int percent) {
        checkOpen();
        return setMinFreeNodes0(percent);
    }

    public int setMaxIncrease(int size) {
        checkOpen();
        return setMaxIncrease0(size);
    }

    public double setIncreaseFactor(double factor) {
        checkOpen();
        return setIncreaseFactor0(factor);
    }

    public int setCacheRatio(int ratio) {
        checkOpen();
        return setCacheRatio0(ratio);
    }

    public int getNodeTableSize() {
        checkOpen();
        return getAllocNum0();
    }

    public int getNodeNum() {
        checkOpen();
        return getNodeNum0();
    }

    public int getCacheSize() {
        checkOpen();
        return getCacheSize0();
    }

    /** Clears the engine's node-limit condition after "Number of nodes reached user defined maximum". */
    public void clearError() {
        clearError0();
    }

    public static String getVersion() {
        loadLibrary();
        return getVersion0();
    }

    // ---- printing, save and load -------------------------------------------

    public void printStat() {
        checkOpen();
        printStat0();
    }

    public void printAll() {
        checkOpen();
        printAll0();
    }

    public void printTable(CorvaneBDD b) {
        checkOpen();
        printTable0(b.root());
    }

    public void printOrder() {
        checkOpen();
        printOrder0();
    }

    public void save(String file, CorvaneBDD b) throws IOException {
        checkOpen();
        save0(Objects.requireNonNull(file), b.root());
    }

    public CorvaneBDD load(String file) throws IOException {
        checkOpen();
        return wrap(load0(Objects.requireNonNull(file)));
    }

    // ---- callbacks from the engine -------------------------------------------

    static void gc_callback(int pre) {
        CorvaneFactory f = INSTANCE;
        if (f != null) {
            for (Listener l : f.listeners) {
                l.gc(pre != 0, f.gcstats);
            }
        }
    }

    static void resize_callback(int oldsize, int newsize) {
        CorvaneFactory f = INSTANCE;
        if (f != null) {
            f.resizestats.num++;
            f.resizestats.oldsize = oldsize;
            f.resizestats.newsize = newsize;
            for (Listener l : f.listeners) {
                l.resize(oldsize, newsize);
            }
        }
    }

    static void reorder_callback(int pre) {
        CorvaneFactory f = INSTANCE;
        if (f != null) {
            if (pre == 0) {
                f.reorderstats.num++;
            }
            for (Listener l : f.listeners) {
                l.reorder(pre != 0);
            }
        }
    }

    // ---- BDD handles -------------------------------------------------------------

    /** One BDD, holding one reference on its engine node until {@link #free()}. */
    public static final class CorvaneBDD {
        private final CorvaneFactory factory;
        private int root;
        private Handle handle;

        CorvaneBDD(CorvaneFactory factory, int root) {
            this.factory = factory;
            this.root = root;
            this.handle = factory.register(this, root, 0);
        }

        /** The engine's node index; throws once freed or after the factory shut down. */
        int root() {
            if (handle == null) {
                throw new IllegalStateException("the BDD has been freed");
            }
            factory.checkOpen();
            return root;
        }

        public CorvaneFactory getFactory() {
            return factory;
        }

        /** Releases the engine node; later use of this handle throws. Freeing twice does nothing. */
        public void free() {
            if (handle != null) {
                if (!factory.closed) {
                    factory.release(handle);
                }
                handle = null;
                root = -1;
            }
        }

        /** A second handle on the same BDD, to be freed separately. */
        public CorvaneBDD id() {
            return factory.wrap(root());
        }

        public boolean isZero() {
            return root() == 0;
        }

        public boolean isOne() {
            return root() == 1;
        }

        /** The variable tested at the root. */
        public int var() {
            return var0(root());
        }

        public int level() {
            return factory.var2Level(var());
        }

        public CorvaneBDD high() {
            return factory.wrap(high0(root()));
        }

        public CorvaneBDD low() {
            return factory.wrap(low0(root()));
        }

        public CorvaneBDD not() {
            return factory.wrap(not0(root()));
        }

        public CorvaneBDD apply(CorvaneBDD that, Op op) {
            return factory.wrap(apply0(root(), that.root(), op.code));
        }

        public CorvaneBDD and(CorvaneBDD that) {
            return apply(that, Op.AND);
        }

        public CorvaneBDD or(CorvaneBDD that) {
            return apply(that, Op.OR);
        }

        public CorvaneBDD xor(CorvaneBDD that) {
            return apply(that, Op.XOR);
        }

        public CorvaneBDD imp(CorvaneBDD that) {
            return apply(that, Op.IMP);
        }

        public CorvaneBDD biimp(CorvaneBDD that) {
            return apply(that, Op.BIIMP);
        }

        /** {@code this} and not {@code that}. */
        public CorvaneBDD diff(CorvaneBDD that) {
            return apply(that, Op.DIFF);
        }

        /** Replaces this handle's BDD by {@code this op that} and frees {@code that}. */
        public CorvaneBDD applyWith(CorvaneBDD that, Op op) {
            CorvaneBDD r = apply(that, op);
            that.free();
            move(r);
            return this;
        }

        public CorvaneBDD andWith(CorvaneBDD that) {
            return applyWith(that, Op.AND);
        }

        public CorvaneBDD orWith(CorvaneBDD that) {
            return applyWith(that, Op.OR);
        }

        /** Takes over r's node and reference; r is left freed. */
        private void move(CorvaneBDD r) {
            if (handle != null) {
                factory.release(handle);
            }
            root = r.root;
            handle = r.handle;
            r.handle = null;
            r.root = -1;
            // The phantom reference must track this object now, not r.
            factory.live.remove(handle);
            handle.clear();
            handle = factory.register(this, root, 0);
        }

        /** if this then g else h. */
        public CorvaneBDD ite(CorvaneBDD g, CorvaneBDD h) {
            return factory.wrap(ite0(root(), g.root(), h.root()));
        }

        public CorvaneBDD exist(CorvaneBDD varset) {
            return factory.wrap(exist0(root(), varset.root()));
        }

        public CorvaneBDD forAll(CorvaneBDD varset) {
            return factory.wrap(forAll0(root(), varset.root()));
        }

        public CorvaneBDD unique(CorvaneBDD varset) {
            return factory.wrap(unique0(root(), varset.root()));
        }

        /** exists varset . this and that. */
        public CorvaneBDD relprod(CorvaneBDD that, CorvaneBDD varset) {
            return factory.wrap(relprod0(root(), that.root(), varset.root()));
        }

        public CorvaneBDD applyEx(CorvaneBDD that, Op op, CorvaneBDD varset) {
            return factory.wrap(applyEx0(root(), that.root(), op.code, varset.root()));
        }

        public CorvaneBDD applyAll(CorvaneBDD that, Op op, CorvaneBDD varset) {
            return factory.wrap(applyAll0(root(), that.root(), op.code, varset.root()));
        }

        public CorvaneBDD applyUni(CorvaneBDD that, Op op, CorvaneBDD varset) {
            return factory.wrap(applyUni0(root(), that.root(), op.code, varset.root()));
        }

        /** Renames variables as the pairing says (entries must be variables). */
        public CorvaneBDD replace(CorvaneBDDPairing p) {
            return factory.wrap(replace0(root(), p.handle()));
        }

        /** Substitutes every variable by its function in the pairing, simultaneously. */
        public CorvaneBDD veccompose(CorvaneBDDPairing p) {
            return factory.wrap(veccompose0(root(), p.handle()));
        }

        /** Substitutes g for variable var. */
        public CorvaneBDD compose(CorvaneBDD g, int var) {
            return factory.wrap(compose0(root(), g.root(), var));
        }

        public CorvaneBDD restrict(CorvaneBDD cube) {
            return factory.wrap(restrict0(root(), cube.root()));
        }

        public CorvaneBDD constrain(CorvaneBDD care) {
            return factory.wrap(constrain0(root(), care.root()));
        }

        public CorvaneBDD simplify(CorvaneBDD domain) {
            return factory.wrap(simplify0(root(), domain.root()));
        }

        /** The variable set of the variables this BDD depends on. */
        public CorvaneBDD support() {
            return factory.wrap(support0(root()));
        }

        public CorvaneBDD satOne() {
            return factory.wrap(satOne0(root()));
        }

        public CorvaneBDD fullSatOne() {
            return factory.wrap(fullSatOne0(root()));
        }

        /** One satisfying cube over at least varset, unconstrained variables of varset set to pol. */
        public CorvaneBDD satOne(CorvaneBDD varset, boolean pol) {
            return factory.wrap(satOne1(root(), varset.root(), pol ? 1 : 0));
        }

        /**
         * Every path to true as one assignment, indexed by variable: 0, 1, or -1
         * for a variable the path does not test.
         */
        public List<byte[]> allsat() {
            byte[][] a = allsat0(root());
            List<byte[]> r = new ArrayList<>();
            for (byte[] b : a) {
                if (b == null) {
                    break;
                }
                r.add(b);
            }
            return r;
        }

        public double satCount() {
            return satCount0(root());
        }

        public double satCount(CorvaneBDD varset) {
            return satCount1(root(), varset.root());
        }

        public double logSatCount() {
            return logSatCount0(root());
        }

        public double logSatCount(CorvaneBDD varset) {
            return logSatCount1(root(), varset.root());
        }

        public double pathCount() {
            return pathCount0(root());
        }

        public int nodeCount() {
            return nodeCount0(root());
        }

        /** Per variable, the number of nodes of this BDD that test it. */
        public int[] varProfile() {
            return varProfile0(root());
        }

        public void printSet() {
            printSet0(root());
        }

        public void printDot() {
            printDot0(root());
        }

        /** Equal when both denote the same engine node (and so the same function). */
        @Override
        public boolean equals(Object o) {
            return o instanceof CorvaneBDD && ((CorvaneBDD) o).factory == factory
                    && ((CorvaneBDD) o).root == root && root != -1;
        }

        @Override
        public int hashCode() {
            return root;
        }

        @Override
        public String toString() {
            return handle == null ? "CorvaneBDD(freed)" : "CorvaneBDD(" + root + ")";
        }

        static native int var0(int r);
        static native int high0(int r);
        static native int low0(int r);
        static native int not0(int r);
        static native int ite0(int f, int g, int h);
        static native int relprod0(int a, int b, int varset);
        static native int compose0(int f, int g, int var);
        static native int constrain0(int f, int c);
        static native int exist0(int r, int varset);
        static native int forAll0(int r, int varset);
        static native int unique0(int r, int varset);
        static native int restrict0(int r, int cube);
        static native int simplify0(int f, int d);
        static native int support0(int r);
        static native int apply0(int l, int r, int op);
        static native int applyAll0(int l, int r, int op, int varset);
        static native int applyEx0(int l, int r, int op, int varset);
        static native int applyUni0(int l, int r, int op, int varset);
        static native int satOne0(int r);
        static native int fullSatOne0(int r);
        static native int satOne1(int r, int varset, int pol);
        static native byte[][] allsat0(int r);
        static native void printSet0(int r);
        static native void printDot0(int r);
        static native int nodeCount0(int r);
        static native double pathCount0(int r);
        static native double satCount0(int r);
        static native double satCount1(int r, int varset);
        static native double logSatCount0(int r);
        static native double logSatCount1(int r, int varset);
        static native int[] varProfile0(int r);
        static native void addRef(int r);
        static native void delRef(int r);
        static native int veccompose0(int r, long pair);
        static native int replace0(int r, long pair);
    }

    /** A substitution table for replace and veccompose, held until {@link #free()}. */
    public static final class CorvaneBDDPairing {
        private final CorvaneFactory factory;
        private long pair;
        private Handle handle;

        CorvaneBDDPairing(CorvaneFactory factory, long pair) {
            this.factory = factory;
            this.pair = pair;
            this.handle = factory.register(this, 0, pair);
        }

        long handle() {
            if (handle == null) {
                throw new IllegalStateException("the pairing has been freed");
            }
            factory.checkOpen();
            return pair;
        }

        /** Variable oldvar becomes variable newvar. */
        public CorvaneBDDPairing set(int oldvar, int newvar) {
            set0(handle(), oldvar, newvar);
            return this;
        }

        public CorvaneBDDPairing set(int[] oldvars, int[] newvars) {
            set1(handle(), Objects.requireNonNull(oldvars), Objects.requireNonNull(newvars));
            return this;
        }

        /** Variable oldvar becomes the function f (for veccompose). */
        public CorvaneBDDPairing set(int oldvar, CorvaneBDD f) {
            set2(handle(), oldvar, f.root());
            return this;
        }

        public CorvaneBDDPairing set(int[] oldvars, CorvaneBDD[] fs) {
            int[] roots = new int[fs.length];
            for (int i = 0; i < fs.length; i++) {
                roots[i] = fs[i].root();
            }
            set3(handle(), Objects.requireNonNull(oldvars), roots);
            return this;
        }

        /** Back to the identity. */
        public void reset() {
            reset0(handle());
        }

        public void free() {
            if (handle != null) {
                if (!factory.closed) {
                    factory.release(handle);
                }
                handle = null;
                pair = 0;
            }
        }

        static native void set0(long pair, int oldvar, int newvar);
        static native void set1(long pair, int[] oldvars, int[] newvars);
        static native void set2(long pair, int oldvar, int newbdd);
        static native void set3(long pair, int[] oldvars, int[] newbdds);
        static native void reset0(long pair);
        static native void free0(long pair);
    }

    // ---- natives -------------------------------------------------------------------

    static native void registerNatives();
    static native void initialize0(int nodenum, int cachesize);
    static native boolean isInitialized0();
    static native void done0();
    static native void setError0(int code);
    static native void clearError0();
    static native int setMaxNodeNum0(int size);
    static native int setNodeTableSize0(int size);
    static native int setMinFreeNodes0(int x);
    static native int setMaxIncrease0(int x);
    static native double setIncreaseFactor0(double x);
    static native int varNum0();
    static native int setVarNum0(int num);
    static native int extVarNum0(int num);
    static native int ithVar0(int var);
    static native int nithVar0(int var);
    static native int getAllocNum0();
    static native int getCacheSize0();
    static native int getNodeNum0();
    static native void printStat0();
    static native String getVersion0();
    static native int setCacheRatio0(int r);
    static native int duplicateVar0(int var);
    static native void swapVar0(int a, int b);
    static native long makePair0();
    static native void printAll0();
    static native void printTable0(int r);
    static native int load0(String file) throws IOException;
    static native void save0(String file, int r) throws IOException;
    static native int level2Var0(int level);
    static native int var2Level0(int var);
    static native void reorder0(int method);
    static native void autoReorder0(int method);
    static native void autoReorder1(int method, int max);
    static native int getReorderMethod0();
    static native int getReorderTimes0();
    static native void disableReorder0();
    static native void enableReorder0();
    static native int reorderVerbose0(int level);
    static native void setVarOrder0(int[] order);
    static native void addVarBlock0(int varset, boolean fixed);
    static native void addVarBlock1(int first, int last, boolean fixed);
    static native void varBlockAll0();
    static native void clearVarBlocks0();
    static native void printOrder0();
    static native int nodeCount0(int[] roots);
    static native int reorderGain0();
    static native int buildCube0(int value, int[] vars);
    static native int buildCube1(int value, int[] vars);
    static native int makeSet0(int[] vars);
}
