package velmora;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.UncheckedIOException;
import java.lang.ref.Cleaner;
import java.math.BigInteger;
import java.nio.ByteBuffer;
import java.nio.CharBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CodingErrorAction;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.Collections;
import java.util.HashMap;
import java.util.IdentityHashMap;
import java.util.Iterator;
import java.util.List;
import java.util.Map;
import java.util.NoSuchElementException;
import java.util.Objects;
import java.util.Set;
import java.util.Spliterator;
import java.util.Spliterators;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.locks.ReentrantLock;
import java.util.stream.Stream;
import java.util.stream.StreamSupport;

/**
 * The factory of BDDs held by the native Corvane engine.
 *
 * <p><b>Threads.</b> The engine is single-instance: at most one factory runs
 * per process. Every call into it holds one process-wide lock for its whole
 * length, so a factory and its BDDs may be shared by threads; calls from
 * different threads run one after the other. A listener (which runs inside an
 * engine call) that calls the factory gets {@link IllegalStateException} at
 * that call; the operation it interrupted still completes.
 *
 * <p><b>Resources.</b> Every {@link CorvaneBDD}, {@link BDDBitVector} and
 * {@link CorvaneBDDPairing} holds engine resources until it is closed
 * ({@code close()} or {@code free()}), for instance by try-with-resources or a
 * {@link Scope}. A handle dropped without closing is released once the JVM has
 * collected it, by a cleaner thread that takes the lock like any caller.
 */
public final class CorvaneFactory extends BDDFactory implements AutoCloseable {

    /** System property naming the library file to load instead of searching {@code java.library.path}. */
    public static final String LIBRARY_PROPERTY = "corvane.library";

    /** Where the jar carries the Linux x86-64 library. */
    static final String BUNDLED_LIBRARY = "/velmora/native/linux-x86-64/libcorvane.so";

    /** The running factory; the engine reads its statistics object through this field. */
    static CorvaneFactory INSTANCE;

    /** Held for the whole of every native call. */
    private static final ReentrantLock LOCK = new ReentrantLock();
    private static final Cleaner CLEANER = Cleaner.create();
    private static boolean loaded;

    private final ThreadLocal<Scope> scopes = new ThreadLocal<>();
    private final List<BDDDomain> domains = new ArrayList<>();
    private int live;
    private boolean closed;

    private CorvaneFactory() {}

    // ---- the lock ----------------------------------------------------------------

    /** Handles the cleaner found unreachable while another thread held the lock. */
    private static final ConcurrentLinkedQueue<Resource> ABANDONED = new ConcurrentLinkedQueue<>();

    /**
     * Takes the engine lock; refuses a call made from inside an engine call on this thread.
     * Releases what the cleaner queued meanwhile, so a busy thread cannot starve it.
     */
    static void enter() {
        if (LOCK.isHeldByCurrentThread()) {
            throw new IllegalStateException("the factory was called from inside one of its own engine calls"
                    + " (a listener must not call the factory)");
        }
        LOCK.lock();
        if (!ABANDONED.isEmpty()) {
            try {
                releaseQueued();
            } catch (RuntimeException | Error e) {
                LOCK.unlock(); // the caller's finally has not been reached yet
                throw e;
            }
        }
    }

    /** Lock held: releases the queued handles, the nodes of BDDs in one engine call. */
    private static void releaseQueued() {
        int[] roots = new int[64];
        int n = 0;
        for (Resource r; (r = ABANDONED.poll()) != null;) {
            if (r.released) {
                continue;
            }
            r.released = true;
            r.factory.live--;
            if (r.factory.closed) {
                continue;
            }
            if (r instanceof CorvaneBDD.Node) {
                if (n == roots.length) {
                    roots = Arrays.copyOf(roots, 2 * n);
                }
                roots[n++] = ((CorvaneBDD.Node) r).root;
            } else {
                r.release();
            }
        }
        if (n > 0) {
            delRefs0(Arrays.copyOf(roots, n));
        }
    }

    static void exit() {
        LOCK.unlock();
        if (collectHandles && !LOCK.isHeldByCurrentThread()) {
            collectHandles = false;
            // The engine grew while many handles were live: some may be garbage the JVM has not
            // looked at yet, since it cannot see the engine memory they hold.
            System.gc();
        }
    }

    /** Set when the node table grew with many handles live; read on the way out of a call. */
    private static boolean collectHandles;

    // ---- loading and start-up ------------------------------------------------------

    /**
     * Loads the native library once: from the file named by {@value #LIBRARY_PROPERTY}, else by
     * name from {@code java.library.path}, else the copy inside the jar.
     *
     * @throws UnsatisfiedLinkError when none of them can be loaded
     */
    public static synchronized void loadLibrary() {
        if (loaded) {
            return;
        }
        String path = System.getProperty(LIBRARY_PROPERTY);
        if (path != null) {
            System.load(new File(path).getAbsolutePath());
        } else {
            try {
                System.loadLibrary("corvane");
            } catch (UnsatisfiedLinkError notOnPath) {
                loadBundled(notOnPath);
            }
        }
        registerNatives();
        loaded = true;
    }

    private static void loadBundled(UnsatisfiedLinkError notOnPath) {
        String arch = System.getProperty("os.arch", "");
        boolean linux64 = System.getProperty("os.name", "").startsWith("Linux")
                && (arch.equals("amd64") || arch.equals("x86_64"));
        try (InputStream in = linux64 ? CorvaneFactory.class.getResourceAsStream(BUNDLED_LIBRARY) : null) {
            if (in != null) {
                Path tmp = Files.createTempFile("libcorvane", ".so");
                try {
                    Files.copy(in, tmp, StandardCopyOption.REPLACE_EXISTING);
                    System.load(tmp.toAbsolutePath().toString());
                } finally {
                    Files.deleteIfExists(tmp); // the mapping stays valid
                }
                return;
            }
        } catch (IOException e) {
            throw linkError(notOnPath, "the copy inside the jar could not be extracted: " + e);
        }
        throw linkError(notOnPath, "the jar holds no library for " + System.getProperty("os.name") + "/" + arch);
    }

    private static UnsatisfiedLinkError linkError(UnsatisfiedLinkError cause, String why) {
        UnsatisfiedLinkError e = new UnsatisfiedLinkError("libcorvane.so was not found on java.library.path ("
                + System.getProperty("java.library.path") + ") and " + why + ". Either add the folder holding"
                + " libcorvane.so to java.library.path (java -Djava.library.path=DIR ...), or name the file"
                + " itself with -D" + LIBRARY_PROPERTY + "=/path/to/libcorvane.so");
        e.initCause(cause);
        return e;
    }

    /**
     * Starts the engine with an initial node table of {@code nodenum} nodes and
     * operator caches of {@code cachesize} entries. Fails with "bdd_init() called
     * twice" while a factory is running.
     *
     * @param nodenum initial node-table size, positive
     * @param cachesize operator-cache size, positive
     * @return the running factory
     */
    public static CorvaneFactory init(int nodenum, int cachesize) {
        positive(nodenum, "nodenum");
        positive(cachesize, "cachesize");
        loadLibrary();
        enter();
        try {
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
        } finally {
            exit();
        }
    }

    /**
     * Starts the engine and declares {@code varnum} variables.
     *
     * @param nodenum initial node-table size, positive
     * @param cachesize operator-cache size, positive
     * @param varnum number of variables, positive
     * @return the running factory
     */
    public static CorvaneFactory init(int nodenum, int cachesize, int varnum) {
        positive(varnum, "varnum");
        CorvaneFactory f = init(nodenum, cachesize);
        f.setVarNum(varnum);
        return f;
    }

    private static void positive(int x, String name) {
        if (x <= 0) {
            throw new IllegalArgumentException(name + " must be positive, not " + x);
        }
    }

    private static void nonNegative(int x, String name) {
        if (x < 0) {
            throw new IllegalArgumentException(name + " must not be negative, not " + x);
        }
    }

    /**
     * Whether this factory is running.
     *
     * @return false once it has been shut down
     */
    public boolean isInitialized() {
        enter();
        try {
            return !closed && isInitialized0();
        } finally {
            exit();
        }
    }

    /** Stops the engine; every BDD, vector and pairing of this factory becomes unusable. */
    public void done() {
        enter();
        try {
            if (closed) {
                return;
            }
            closed = true;
            if (INSTANCE == this) {
                INSTANCE = null;
            }
            done0();
        } finally {
            exit();
        }
    }

    /** The same as {@link #done()}. */
    @Override
    public void close() {
        done();
    }

    // ---- handles -------------------------------------------------------------------

    private void checkOpen() {
        if (closed) {
            throw new IllegalStateException("the factory has been shut down");
        }
    }

    /** The root of an argument BDD, refused when null, freed or of another (or a stopped) factory. */
    int arg(CorvaneBDD b, String name) {
        Objects.requireNonNull(b, name);
        if (b.factory != this || closed) {
            throw new IllegalArgumentException(name + " belongs to a factory that has been shut down");
        }
        if (b.ref.released) {
            throw new IllegalArgumentException(name + " has been freed");
        }
        return b.ref.root;
    }

    /** Wraps an unreferenced result (lock held): nothing may create nodes before the reference is added. */
    CorvaneBDD wrap(int root) {
        CorvaneBDD.addRef(root);
        CorvaneBDD b = new CorvaneBDD(this, root);
        track(b);
        return b;
    }

    void track(AutoCloseable resource) {
        live++;
        Scope s = scopes.get();
        if (s != null) {
            s.made.add(resource);
        }
    }

    /**
     * Number of BDD, vector and pairing handles currently holding engine resources.
     *
     * @return the count
     */
    public int liveHandles() {
        enter();
        try {
            return live;
        } finally {
            exit();
        }
    }

    /** Engine resource of one handle, released by close() or by the cleaner once the handle is unreachable. */
    abstract static class Resource implements Runnable {
        final CorvaneFactory factory;
        boolean released;

        Resource(CorvaneFactory factory) {
            this.factory = factory;
        }

        abstract void release();

        /** By close() (lock held), or by the cleaner thread, which must not wait behind a busy caller. */
        @Override
        public final void run() {
            if (!LOCK.tryLock()) { // succeeds at once for close(), which holds it
                ABANDONED.add(this); // the next call to take the lock releases it
                return;
            }
            try {
                if (!released) {
                    released = true;
                    factory.live--;
                    if (!factory.closed) {
                        release();
                    }
                }
                if (!ABANDONED.isEmpty()) {
                    releaseQueued();
                }
            } finally {
                LOCK.unlock();
            }
        }
    }

    static Cleaner.Cleanable register(Object owner, Resource r) {
        return CLEANER.register(owner, r);
    }

    /**
     * Opens a scope on the calling thread: every BDD, vector and pairing this
     * thread creates until the scope closes is closed with it, except those
     * passed to {@link Scope#keep}. Scopes nest.
     *
     * @return the scope, to be closed by try-with-resources
     */
    public Scope scope() {
        Scope s = new Scope(scopes.get());
        scopes.set(s);
        return s;
    }

    /** Resources created on one thread between its opening and its closing. */
    public final class Scope implements AutoCloseable {
        private final Scope parent;
        final Set<AutoCloseable> made = Collections.newSetFromMap(new IdentityHashMap<>());
        private boolean open = true;

        Scope(Scope parent) {
            this.parent = parent;
        }

        /**
         * Keeps a resource past this scope (it passes to the enclosing scope, if any).
         *
         * @param <T> the resource's type
         * @param resource a BDD, vector or pairing
         * @return the resource
         */
        public <T extends AutoCloseable> T keep(T resource) {
            Objects.requireNonNull(resource, "resource");
            if (made.remove(resource) && parent != null) {
                parent.made.add(resource);
            }
            return resource;
        }

        /** Closes every resource created inside and not kept. */
        @Override
        public void close() {
            if (!open) {
                return;
            }
            if (scopes.get() != this) {
                throw new IllegalStateException("scopes must be closed on their thread, innermost first");
            }
            open = false;
            scopes.set(parent);
            for (AutoCloseable r : made) {
                try {
                    r.close();
                } catch (Exception e) {
                    throw new IllegalStateException(e);
                }
            }
            made.clear();
        }
    }

    // ---- variables and constants -------------------------------------------------------

    /**
     * Sets the number of variables; it only grows.
     *
     * @param num the new number, positive
     * @return 0
     */
    public int setVarNum(int num) {
        positive(num, "num");
        enter();
        try {
            checkOpen();
            return setVarNum0(num);
        } finally {
            exit();
        }
    }

    /**
     * Adds variables at the bottom of the order.
     *
     * @param num how many, not negative
     * @return the number of the first new variable
     */
    public int extVarNum(int num) {
        nonNegative(num, "num");
        enter();
        try {
            checkOpen();
            return extVarNum0(num);
        } finally {
            exit();
        }
    }

    /**
     * The number of variables.
     *
     * @return the count
     */
    public int varNum() {
        enter();
        try {
            checkOpen();
            return varNum0();
        } finally {
            exit();
        }
    }

    /**
     * The constant false.
     *
     * @return a new handle
     */
    public CorvaneBDD zero() {
        return constant(0);
    }

    /**
     * The constant true.
     *
     * @return a new handle
     */
    public CorvaneBDD one() {
        return constant(1);
    }

    private CorvaneBDD constant(int c) {
        enter();
        try {
            checkOpen();
            return wrap(c);
        } finally {
            exit();
        }
    }

    /**
     * The BDD of one variable.
     *
     * @param var the variable
     * @return a new handle
     */
    public CorvaneBDD ithVar(int var) {
        enter();
        try {
            checkOpen();
            return wrap(ithVar0(var));
        } finally {
            exit();
        }
    }

    /**
     * The BDD of the negation of one variable.
     *
     * @param var the variable
     * @return a new handle
     */
    public CorvaneBDD nithVar(int var) {
        enter();
        try {
            checkOpen();
            return wrap(nithVar0(var));
        } finally {
            exit();
        }
    }

    /**
     * The cube of {@code value} over {@code vars}; the last variable holds the lowest bit.
     *
     * @param value the bits
     * @param vars variable numbers
     * @return a new handle
     */
    public CorvaneBDD buildCube(int value, int... vars) {
        Objects.requireNonNull(vars, "vars");
        enter();
        try {
            checkOpen();
            return wrap(buildCube1(value, vars));
        } finally {
            exit();
        }
    }

    /**
     * As {@link #buildCube(int, int...)} with variables given as BDDs.
     *
     * @param value the bits
     * @param vars variable BDDs
     * @return a new handle
     */
    public CorvaneBDD buildCube(int value, List<CorvaneBDD> vars) {
        Objects.requireNonNull(vars, "vars");
        enter();
        try {
            checkOpen();
            return wrap(buildCube0(value, roots(vars, "vars")));
        } finally {
            exit();
        }
    }

    /**
     * The variable set (conjunction of positive variables) of {@code vars}.
     *
     * @param vars variable numbers
     * @return a new handle
     */
    public CorvaneBDD makeSet(int... vars) {
        Objects.requireNonNull(vars, "vars");
        enter();
        try {
            checkOpen();
            return wrap(makeSet0(vars));
        } finally {
            exit();
        }
    }

    /**
     * Number of distinct nodes used by all of {@code bdds} together.
     *
     * @param bdds the BDDs
     * @return the node count
     */
    public int nodeCount(Collection<CorvaneBDD> bdds) {
        Objects.requireNonNull(bdds, "bdds");
        enter();
        try {
            checkOpen();
            return nodeCount0(roots(bdds, "bdds"));
        } finally {
            exit();
        }
    }

    private int[] roots(Collection<CorvaneBDD> bdds, String name) {
        int[] r = new int[bdds.size()];
        int i = 0;
        for (CorvaneBDD b : bdds) {
            r[i] = arg(b, name + "[" + i + "]");
            i++;
        }
        return r;
    }

    /**
     * A new, empty substitution table.
     *
     * @return a new pairing
     */
    public CorvaneBDDPairing makePair() {
        enter();
        try {
            checkOpen();
            long p = makePair0();
            if (p == 0) {
                // makePair0 leaves its error recorded; a checking native raises it now.
                varNum0();
                throw new OutOfMemoryError("Out of memory");
            }
            CorvaneBDDPairing pair = new CorvaneBDDPairing(this, p);
            track(pair);
            return pair;
        } finally {
            exit();
        }
    }

    /**
     * A pairing that renames each {@code olds[i]} to {@code news[i]}.
     *
     * @param olds variables to rename
     * @param news their new names
     * @return a new pairing
     */
    public CorvaneBDDPairing makePair(int[] olds, int[] news) {
        CorvaneBDDPairing p = makePair();
        p.set(olds, news);
        return p;
    }

    /**
     * Inserts a new variable right below {@code var} in the order.
     *
     * @param var the variable
     * @return the new variable's number
     */
    public int duplicateVar(int var) {
        enter();
        try {
            checkOpen();
            return duplicateVar0(var);
        } finally {
            exit();
        }
    }

    // ---- order and reordering ----------------------------------------------------

    /**
     * Exchanges two variables in the order.
     *
     * @param a a variable
     * @param b another
     */
    public void swapVar(int a, int b) {
        enter();
        try {
            checkOpen();
            swapVar0(a, b);
        } finally {
            exit();
        }
    }

    /**
     * The variable at a level.
     *
     * @param level the level
     * @return the variable
     */
    public int level2Var(int level) {
        enter();
        try {
            checkOpen();
            return level2Var0(level);
        } finally {
            exit();
        }
    }

    /**
     * The level of a variable.
     *
     * @param var the variable
     * @return its level
     */
    public int var2Level(int var) {
        enter();
        try {
            checkOpen();
            return var2Level0(var);
        } finally {
            exit();
        }
    }

    /**
     * Sets the variable order: {@code order[level]} is the variable placed at that level.
     *
     * @param order a permutation of all variables
     */
    public void setVarOrder(int[] order) {
        Objects.requireNonNull(order, "order");
        enter();
        try {
            checkOpen();
            int n = varNum0();
            if (order.length != n) {
                throw new IllegalArgumentException("order has " + order.length + " entries for " + n + " variables");
            }
            boolean[] seen = new boolean[n];
            for (int l = 0; l < n; l++) {
                int v = order[l];
                if (v < 0 || v >= n) {
                    throw new IllegalArgumentException("order[" + l + "] = " + v + " is not a variable");
                }
                if (seen[v]) {
                    throw new IllegalArgumentException("order names variable " + v + " twice");
                }
                seen[v] = true;
            }
            setVarOrder0(order.clone());
        } finally {
            exit();
        }
    }

    /**
     * The variable order.
     *
     * @return the variable at each level
     */
    public int[] getVarOrder() {
        enter();
        try {
            checkOpen();
            int[] order = new int[varNum0()];
            for (int l = 0; l < order.length; l++) {
                order[l] = level2Var0(l);
            }
            return order;
        } finally {
            exit();
        }
    }

    /**
     * Reorders the variables now.
     *
     * @param m the method
     */
    public void reorder(ReorderMethod m) {
        Objects.requireNonNull(m, "m");
        enter();
        try {
            checkOpen();
            reorder0(m.code);
        } finally {
            exit();
        }
    }

    /**
     * Sets automatic reordering.
     *
     * @param m the method, NONE to switch it off
     */
    public void autoReorder(ReorderMethod m) {
        Objects.requireNonNull(m, "m");
        enter();
        try {
            checkOpen();
            autoReorder0(m.code);
        } finally {
            exit();
        }
    }

    /**
     * Sets automatic reordering for at most {@code maxTimes} runs.
     *
     * @param m the method
     * @param maxTimes the number of runs allowed
     */
    public void autoReorder(ReorderMethod m, int maxTimes) {
        Objects.requireNonNull(m, "m");
        enter();
        try {
            checkOpen();
            autoReorder1(m.code, maxTimes);
        } finally {
            exit();
        }
    }

    /**
     * The automatic reordering method.
     *
     * @return the method
     */
    public ReorderMethod getReorderMethod() {
        enter();
        try {
            checkOpen();
            return ReorderMethod.of(getReorderMethod0());
        } finally {
            exit();
        }
    }

    /**
     * Automatic reorderings still allowed.
     *
     * @return the count
     */
    public int getReorderTimes() {
        enter();
        try {
            checkOpen();
            return getReorderTimes0();
        } finally {
            exit();
        }
    }

    /** Suspends automatic reordering. */
    public void disableReorder() {
        enter();
        try {
            checkOpen();
            disableReorder0();
        } finally {
            exit();
        }
    }

    /** Resumes automatic reordering. */
    public void enableReorder() {
        enter();
        try {
            checkOpen();
            enableReorder0();
        } finally {
            exit();
        }
    }

    /**
     * Sets how much reordering prints.
     *
     * @param level 0 for nothing
     * @return the previous level
     */
    public int reorderVerbose(int level) {
        enter();
        try {
            checkOpen();
            return reorderVerbose0(level);
        } finally {
            exit();
        }
    }

    /**
     * Percentage by which the last reordering shrank the node count.
     *
     * @return the gain
     */
    public int reorderGain() {
        enter();
        try {
            checkOpen();
            return reorderGain0();
        } finally {
            exit();
        }
    }

    /**
     * Adds a reordering block over the variables of a variable set.
     *
     * @param varset the variable set
     * @param fixed whether the variables keep their order inside the block
     */
    public void addVarBlock(CorvaneBDD varset, boolean fixed) {
        enter();
        try {
            checkOpen();
            addVarBlock0(arg(varset, "varset"), fixed);
        } finally {
            exit();
        }
    }

    /**
     * Adds a reordering block over the variables {@code first} to {@code last}.
     *
     * @param first first variable
     * @param last last variable
     * @param fixed whether the variables keep their order inside the block
     */
    public void addVarBlock(int first, int last, boolean fixed) {
        enter();
        try {
            checkOpen();
            addVarBlock1(first, last, fixed);
        } finally {
            exit();
        }
    }

    /** Puts every variable in a block of its own. */
    public void varBlockAll() {
        enter();
        try {
            checkOpen();
            varBlockAll0();
        } finally {
            exit();
        }
    }

    /** Removes every reordering block. */
    public void clearVarBlocks() {
        enter();
        try {
            checkOpen();
            clearVarBlocks0();
        } finally {
            exit();
        }
    }

    // ---- settings and statistics -----------------------------------------------------

    private interface IntSetting {
        int set(int x);
    }

    private int setting(IntSetting s, int x) {
        enter();
        try {
            checkOpen();
            return s.set(x);
        } finally {
            exit();
        }
    }

    /**
     * Limits the node table (0: no limit).
     *
     * @param size the limit, not negative
     * @return the previous limit
     */
    public int setMaxNodeNum(int size) {
        nonNegative(size, "size");
        return setting(CorvaneFactory::setMaxNodeNum0, size);
    }

    /**
     * Grows the node table to about {@code size} nodes.
     *
     * @param size the size, not negative
     * @return the size before
     */
    public int setNodeTableSize(int size) {
        nonNegative(size, "size");
        return setting(CorvaneFactory::setNodeTableSize0, size);
    }

    /**
     * Sets the percentage of free nodes below which a collection is followed by growth.
     *
     * @param percent 0 to 100 (else the engine's "Value out of range")
     * @return the previous value
     */
    public int setMinFreeNodes(int percent) {
        return setting(CorvaneFactory::setMinFreeNodes0, percent);
    }

    /**
     * Sets the largest growth step of the node table.
     *
     * @param size nodes, not negative
     * @return the previous step
     */
    public int setMaxIncrease(int size) {
        nonNegative(size, "size");
        return setting(CorvaneFactory::setMaxIncrease0, size);
    }

    /**
     * Sets the factor by which the node table grows.
     *
     * @param x above 1
     * @return the previous factor
     */
    public double setIncreaseFactor(double x) {
        if (!(x > 1)) {
            throw new IllegalArgumentException("x must be above 1, not " + x);
        }
        enter();
        try {
            checkOpen();
            return setIncreaseFactor0(x);
        } finally {
            exit();
        }
    }

    /**
     * Sets the cache size as a ratio of the node-table size.
     *
     * @param ratio not negative (0: fixed caches)
     * @return the previous ratio
     */
    public int setCacheRatio(int ratio) {
        nonNegative(ratio, "ratio");
        return setting(CorvaneFactory::setCacheRatio0, ratio);
    }

    /**
     * The node-table size.
     *
     * @return the size
     */
    public int getNodeTableSize() {
        return setting(x -> getAllocNum0(), 0);
    }

    /**
     * Nodes in use.
     *
     * @return the count
     */
    public int getNodeNum() {
        return setting(x -> getNodeNum0(), 0);
    }

    /**
     * The operator-cache size.
     *
     * @return the size
     */
    public int getCacheSize() {
        return setting(x -> getCacheSize0(), 0);
    }

    /**
     * The engine's cache counters.
     *
     * @return a copy taken now
     */
    public CacheStats getCacheStats() {
        int[] v = new int[7];
        enter();
        try {
            checkOpen();
            cacheStats0(v);
        } finally {
            exit();
        }
        return new CacheStats(v);
    }

    /** Runs a garbage collection of the node table now. */
    public void gc() {
        enter();
        try {
            checkOpen();
            gc0();
        } finally {
            exit();
        }
    }

    /**
     * Clears the engine's node-limit condition. Every call into the engine
     * already clears it when it returns; this stays for earlier callers.
     */
    public void clearError() {
        enter();
        try {
            clearError0();
        } finally {
            exit();
        }
    }

    /**
     * The engine's version text.
     *
     * @return the version
     */
    public static String getVersion() {
        loadLibrary();
        enter();
        try {
            return getVersion0();
        } finally {
            exit();
        }
    }

    // ---- printing, save and load -------------------------------------------------

    static final int SET = 0, TABLE = 1, DOT = 2, ALL = 3, STAT = 4, ORDER = 5, FDDSET = 6;

    /** Printer output as text (lock held). */
    String print(int what, int root) {
        checkOpen();
        return new String(print1(what, root), Charset.defaultCharset());
    }

    String printed(int what, int root) {
        enter();
        try {
            return print(what, root);
        } finally {
            exit();
        }
    }

    static void append(Appendable out, String s) {
        try {
            Objects.requireNonNull(out, "out").append(s);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** Prints the cache statistics on standard output. */
    public void printStat() {
        System.out.print(printed(STAT, 0));
        System.out.flush();
    }

    /**
     * The cache statistics report.
     *
     * @return the text
     */
    public String toStatString() {
        return printed(STAT, 0);
    }

    /** Prints every live node on standard output. */
    public void printAll() {
        System.out.print(printed(ALL, 0));
        System.out.flush();
    }

    /**
     * Writes every live node, one a line.
     *
     * @param out where to
     */
    public void printAll(Appendable out) {
        append(out, printed(ALL, 0));
    }

    /**
     * Prints the nodes of a BDD on standard output.
     *
     * @param b the BDD
     */
    public void printTable(CorvaneBDD b) {
        enter();
        try {
            System.out.print(print(TABLE, arg(b, "b")));
        } finally {
            exit();
        }
        System.out.flush();
    }

    /** Prints the variable order and blocks on standard output. */
    public void printOrder() {
        System.out.print(printed(ORDER, 0));
        System.out.flush();
    }

    /**
     * The variable order and blocks.
     *
     * @return the text
     */
    public String toOrderString() {
        return printed(ORDER, 0);
    }

    /** The encoding the JVM uses for file names. */
    static Charset fileNameCharset() {
        String enc = System.getProperty("sun.jnu.encoding");
        return enc != null && Charset.isSupported(enc) ? Charset.forName(enc) : Charset.defaultCharset();
    }

    /** A file name as the platform encodes it; refused when it cannot say it (rather than mangled). */
    static byte[] fileName(String file) {
        Objects.requireNonNull(file, "file");
        if (file.isEmpty() || file.indexOf('\0') >= 0) {
            throw new IllegalArgumentException("file must be a non-empty name without NUL characters");
        }
        Charset cs = fileNameCharset();
        try {
            ByteBuffer b = cs.newEncoder().onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT).encode(CharBuffer.wrap(file));
            byte[] r = new byte[b.remaining()];
            b.get(r);
            return r;
        } catch (CharacterCodingException e) {
            throw new IllegalArgumentException("file cannot be written in the platform encoding " + cs + ": " + file);
        }
    }

    /**
     * Saves a BDD to a file in the engine's text format.
     *
     * @param file the file name
     * @param b the BDD
     * @throws IOException when the file cannot be written
     */
    public void save(String file, CorvaneBDD b) throws IOException {
        byte[] name = fileName(file);
        enter();
        try {
            checkOpen();
            save1(name, arg(b, "b"));
        } finally {
            exit();
        }
    }

    /**
     * Loads a BDD saved by {@link #save}.
     *
     * @param file the file name
     * @return a new handle
     * @throws IOException when the file cannot be read or is malformed
     */
    public CorvaneBDD load(String file) throws IOException {
        byte[] name = fileName(file);
        enter();
        try {
            checkOpen();
            return wrap(load1(name));
        } finally {
            exit();
        }
    }

    // ---- finite domains --------------------------------------------------------------

    /**
     * Declares finite domains of the given sizes, their bits interleaved.
     *
     * @param sizes the number of values of each
     * @return the new domains
     */
    public BDDDomain[] extDomain(int... sizes) {
        Objects.requireNonNull(sizes, "sizes");
        for (int i = 0; i < sizes.length; i++) {
            positive(sizes[i], "sizes[" + i + "]");
        }
        enter();
        try {
            checkOpen();
            int first = fddExtDomain0(sizes.clone());
            BDDDomain[] r = new BDDDomain[sizes.length];
            for (int i = 0; i < r.length; i++) {
                r[i] = new BDDDomain(this, first + i);
                domains.add(r[i]);
            }
            return r;
        } finally {
            exit();
        }
    }

    /**
     * Declares a domain of the bits of {@code low} followed by those of {@code high}.
     *
     * @param low the low-order domain
     * @param high the high-order domain
     * @return the new domain
     */
    public BDDDomain overlapDomain(BDDDomain low, BDDDomain high) {
        enter();
        try {
            checkOpen();
            BDDDomain d = new BDDDomain(this, fdd0(0, domain(low, "low"), domain(high, "high")));
            domains.add(d);
            return d;
        } finally {
            exit();
        }
    }

    /**
     * The domains declared so far.
     *
     * @return their number
     */
    public int numberOfDomains() {
        enter();
        try {
            checkOpen();
            return domains.size();
        } finally {
            exit();
        }
    }

    /**
     * One declared domain.
     *
     * @param index 0 for the first declared
     * @return the domain
     */
    public BDDDomain getDomain(int index) {
        enter();
        try {
            checkOpen();
            if (index < 0 || index >= domains.size()) {
                throw new IllegalArgumentException("index " + index + " names no domain");
            }
            return domains.get(index);
        } finally {
            exit();
        }
    }

    /** Forgets every domain; later domains take BDD variables from 0 again. */
    public void clearAllDomains() {
        enter();
        try {
            checkOpen();
            fdd0(9, 0, 0);
            for (BDDDomain d : domains) {
                d.forgotten = true;
            }
            domains.clear();
        } finally {
            exit();
        }
    }

    int domain(BDDDomain d, String name) {
        Objects.requireNonNull(d, name);
        if (d.factory != this || d.forgotten || closed) {
            throw new IllegalArgumentException(name + " is not a domain of this running factory");
        }
        return d.index;
    }

    /**
     * The variable set of all bits of the given domains.
     *
     * @param ds the domains
     * @return a new handle
     */
    public CorvaneBDD makeSet(BDDDomain... ds) {
        Objects.requireNonNull(ds, "ds");
        enter();
        try {
            checkOpen();
            int[] idx = new int[ds.length];
            for (int i = 0; i < ds.length; i++) {
                idx[i] = domain(ds[i], "ds[" + i + "]");
            }
            return wrap(fddMakeSet0(idx));
        } finally {
            exit();
        }
    }

    /**
     * Adds a reordering block over the variables of the domains {@code first} to {@code last}.
     *
     * @param first first domain
     * @param last last domain
     * @param fixed whether the variables keep their order inside the block
     */
    public void addVarBlock(BDDDomain first, BDDDomain last, boolean fixed) {
        enter();
        try {
            checkOpen();
            fddAddVarBlock0(domain(first, "first"), domain(last, "last"), fixed);
        } finally {
            exit();
        }
    }

    // ---- bit vectors ---------------------------------------------------------------------

    /** A vector result of a native (lock held): its bits already hold their references. */
    BDDBitVector vector(int[] bits) {
        BDDBitVector v = new BDDBitVector(this, bits);
        track(v);
        return v;
    }

    /**
     * The constant {@code value} in {@code width} bits (negative values sign-extend).
     *
     * @param width bits, not negative
     * @param value the value
     * @return a new vector
     */
    public BDDBitVector constantVector(int width, int value) {
        nonNegative(width, "width");
        enter();
        try {
            checkOpen();
            return vector(bvec0(0, null, null, width, value));
        } finally {
            exit();
        }
    }

    /**
     * The vector whose bit i is variable {@code offset + i}.
     *
     * @param width bits, not negative
     * @param offset first variable
     * @return a new vector
     */
    public BDDBitVector varVector(int width, int offset) {
        nonNegative(width, "width");
        enter();
        try {
            checkOpen();
            return vector(bvec0(1, null, null, width, offset));
        } finally {
            exit();
        }
    }

    /**
     * The vector whose bit i is variable {@code vars[i]}.
     *
     * @param vars variables, least significant first
     * @return a new vector
     */
    public BDDBitVector varVector(int... vars) {
        Objects.requireNonNull(vars, "vars");
        enter();
        try {
            checkOpen();
            return vector(bvec0(3, vars.clone(), null, 0, 0));
        } finally {
            exit();
        }
    }

    // ---- callbacks from the engine ----------------------------------------------------

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
            collectHandles = f.live > newsize / 8;
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

    // ---- BDD handles ----------------------------------------------------------------------

    /** One BDD, holding one reference on its engine node until it is closed. */
    public static final class CorvaneBDD implements AutoCloseable {
        final CorvaneFactory factory;
        final Node ref;
        private final Cleaner.Cleanable cleanable;

        static final class Node extends Resource {
            int root;

            Node(CorvaneFactory factory, int root) {
                super(factory);
                this.root = root;
            }

            @Override
            void release() {
                delRef(root);
            }
        }

        CorvaneBDD(CorvaneFactory factory, int root) {
            this.factory = factory;
            this.ref = new Node(factory, root);
            this.cleanable = register(this, ref);
        }

        /** The engine's node index (lock held); throws once freed or after the factory shut down. */
        int root() {
            if (ref.released) {
                throw new IllegalStateException("the BDD has been freed");
            }
            factory.checkOpen();
            return ref.root;
        }

        /**
         * The factory that made this BDD.
         *
         * @return the factory
         */
        public CorvaneFactory getFactory() {
            return factory;
        }

        /** Releases the engine node; later use of this handle throws. Freeing twice does nothing. */
        public void free() {
            enter();
            try {
                cleanable.clean();
            } finally {
                exit();
            }
        }

        /** The same as {@link #free()}. */
        @Override
        public void close() {
            free();
        }

        /**
         * Whether this handle has been freed.
         *
         * @return true after free or close
         */
        public boolean isFreed() {
            enter();
            try {
                return ref.released;
            } finally {
                exit();
            }
        }

        private interface Unary {
            int op(int r);
        }

        private CorvaneBDD unary(Unary u) {
            enter();
            try {
                return factory.wrap(u.op(root()));
            } finally {
                exit();
            }
        }

        private interface Binary {
            int op(int r, int that);
        }

        private CorvaneBDD binary(CorvaneBDD that, String name, Binary b) {
            enter();
            try {
                return factory.wrap(b.op(root(), factory.arg(that, name)));
            } finally {
                exit();
            }
        }

        /**
         * A second handle on the same BDD, to be freed separately.
         *
         * @return a new handle
         */
        public CorvaneBDD id() {
            return unary(r -> r);
        }

        /**
         * Whether this is the constant false.
         *
         * @return true for false
         */
        public boolean isZero() {
            enter();
            try {
                return root() == 0;
            } finally {
                exit();
            }
        }

        /**
         * Whether this is the constant true.
         *
         * @return true for true
         */
        public boolean isOne() {
            enter();
            try {
                return root() == 1;
            } finally {
                exit();
            }
        }

        /**
         * The variable tested at the root.
         *
         * @return the variable
         */
        public int var() {
            enter();
            try {
                return var0(root());
            } finally {
                exit();
            }
        }

        /**
         * The level of the root's variable.
         *
         * @return the level
         */
        public int level() {
            enter();
            try {
                return var2Level0(var0(root()));
            } finally {
                exit();
            }
        }

        /**
         * The root's high (true) child.
         *
         * @return a new handle
         */
        public CorvaneBDD high() {
            return unary(CorvaneBDD::high0);
        }

        /**
         * The root's low (false) child.
         *
         * @return a new handle
         */
        public CorvaneBDD low() {
            return unary(CorvaneBDD::low0);
        }

        /**
         * The negation.
         *
         * @return a new handle
         */
        public CorvaneBDD not() {
            return unary(CorvaneBDD::not0);
        }

        /**
         * {@code this op that}.
         *
         * @param that the right operand
         * @param op the operator
         * @return a new handle
         */
        public CorvaneBDD apply(CorvaneBDD that, Op op) {
            int code = Objects.requireNonNull(op, "op").code;
            return binary(that, "that", (a, b) -> apply0(a, b, code));
        }

        /**
         * Conjunction.
         *
         * @param that the right operand
         * @return a new handle
         */
        public CorvaneBDD and(CorvaneBDD that) {
            return apply(that, Op.AND);
        }

        /**
         * Disjunction.
         *
         * @param that the right operand
         * @return a new handle
         */
        public CorvaneBDD or(CorvaneBDD that) {
            return apply(that, Op.OR);
        }

        /**
         * Exclusive or.
         *
         * @param that the right operand
         * @return a new handle
         */
        public CorvaneBDD xor(CorvaneBDD that) {
            return apply(that, Op.XOR);
        }

        /**
         * Implication.
         *
         * @param that the right operand
         * @return a new handle
         */
        public CorvaneBDD imp(CorvaneBDD that) {
            return apply(that, Op.IMP);
        }

        /**
         * Equivalence.
         *
         * @param that the right operand
         * @return a new handle
         */
        public CorvaneBDD biimp(CorvaneBDD that) {
            return apply(that, Op.BIIMP);
        }

        /**
         * {@code this} and not {@code that}.
         *
         * @param that the right operand
         * @return a new handle
         */
        public CorvaneBDD diff(CorvaneBDD that) {
            return apply(that, Op.DIFF);
        }

        /**
         * Replaces this handle's BDD by {@code this op that} and frees {@code that}.
         *
         * @param that the right operand, freed
         * @param op the operator
         * @return this handle
         */
        public CorvaneBDD applyWith(CorvaneBDD that, Op op) {
            int code = Objects.requireNonNull(op, "op").code;
            enter();
            try {
                int old = root();
                int r = apply0(old, factory.arg(that, "that"), code);
                addRef(r);
                ref.root = r;
                delRef(old);
                if (that != this) {
                    that.cleanable.clean();
                }
                return this;
            } finally {
                exit();
            }
        }

        /**
         * {@code this = this and that}; frees {@code that}.
         *
         * @param that the right operand, freed
         * @return this handle
         */
        public CorvaneBDD andWith(CorvaneBDD that) {
            return applyWith(that, Op.AND);
        }

        /**
         * {@code this = this or that}; frees {@code that}.
         *
         * @param that the right operand, freed
         * @return this handle
         */
        public CorvaneBDD orWith(CorvaneBDD that) {
            return applyWith(that, Op.OR);
        }

        /**
         * if this then g else h.
         *
         * @param g the then branch
         * @param h the else branch
         * @return a new handle
         */
        public CorvaneBDD ite(CorvaneBDD g, CorvaneBDD h) {
            enter();
            try {
                return factory.wrap(ite0(root(), factory.arg(g, "g"), factory.arg(h, "h")));
            } finally {
                exit();
            }
        }

        /**
         * Existential quantification.
         *
         * @param varset the variables
         * @return a new handle
         */
        public CorvaneBDD exist(CorvaneBDD varset) {
            return binary(varset, "varset", CorvaneBDD::exist0);
        }

        /**
         * Universal quantification.
         *
         * @param varset the variables
         * @return a new handle
         */
        public CorvaneBDD forAll(CorvaneBDD varset) {
            return binary(varset, "varset", CorvaneBDD::forAll0);
        }

        /**
         * Unique quantification.
         *
         * @param varset the variables
         * @return a new handle
         */
        public CorvaneBDD unique(CorvaneBDD varset) {
            return binary(varset, "varset", CorvaneBDD::unique0);
        }

        private CorvaneBDD ternary(CorvaneBDD that, CorvaneBDD varset, int op, int kind) {
            enter();
            try {
                int a = root(), b = factory.arg(that, "that"), s = factory.arg(varset, "varset");
                switch (kind) {
                    case 0: return factory.wrap(relprod0(a, b, s));
                    case 1: return factory.wrap(applyEx0(a, b, op, s));
                    case 2: return factory.wrap(applyAll0(a, b, op, s));
                    default: return factory.wrap(applyUni0(a, b, op, s));
                }
            } finally {
                exit();
            }
        }

        /**
         * exists varset . this and that.
         *
         * @param that the right operand
         * @param varset the variables
         * @return a new handle
         */
        public CorvaneBDD relprod(CorvaneBDD that, CorvaneBDD varset) {
            return ternary(that, varset, 0, 0);
        }

        /**
         * exists varset . this op that.
         *
         * @param that the right operand
         * @param op the operator
         * @param varset the variables
         * @return a new handle
         */
        public CorvaneBDD applyEx(CorvaneBDD that, Op op, CorvaneBDD varset) {
            return ternary(that, varset, Objects.requireNonNull(op, "op").code, 1);
        }

        /**
         * forall varset . this op that.
         *
         * @param that the right operand
         * @param op the operator
         * @param varset the variables
         * @return a new handle
         */
        public CorvaneBDD applyAll(CorvaneBDD that, Op op, CorvaneBDD varset) {
            return ternary(that, varset, Objects.requireNonNull(op, "op").code, 2);
        }

        /**
         * unique varset . this op that.
         *
         * @param that the right operand
         * @param op the operator
         * @param varset the variables
         * @return a new handle
         */
        public CorvaneBDD applyUni(CorvaneBDD that, Op op, CorvaneBDD varset) {
            return ternary(that, varset, Objects.requireNonNull(op, "op").code, 3);
        }

        private long pair(CorvaneBDDPairing p) {
            Objects.requireNonNull(p, "p");
            if (p.factory != factory || p.res.released) {
                throw new IllegalArgumentException("p has been freed or belongs to a factory that has been shut down");
            }
            return p.res.pair;
        }

        /**
         * Renames variables as the pairing says (entries must be variables).
         *
         * @param p the pairing
         * @return a new handle
         */
        public CorvaneBDD replace(CorvaneBDDPairing p) {
            enter();
            try {
                return factory.wrap(replace0(root(), pair(p)));
            } finally {
                exit();
            }
        }

        /**
         * Substitutes every variable by its function in the pairing, simultaneously.
         *
         * @param p the pairing
         * @return a new handle
         */
        public CorvaneBDD veccompose(CorvaneBDDPairing p) {
            enter();
            try {
                return factory.wrap(veccompose0(root(), pair(p)));
            } finally {
                exit();
            }
        }

        /**
         * Substitutes g for variable var.
         *
         * @param g the function
         * @param var the variable
         * @return a new handle
         */
        public CorvaneBDD compose(CorvaneBDD g, int var) {
            return binary(g, "g", (a, b) -> compose0(a, b, var));
        }

        /**
         * Restriction to a cube.
         *
         * @param cube the cube
         * @return a new handle
         */
        public CorvaneBDD restrict(CorvaneBDD cube) {
            return binary(cube, "cube", CorvaneBDD::restrict0);
        }

        /**
         * Generalised cofactor.
         *
         * @param care the care set
         * @return a new handle
         */
        public CorvaneBDD constrain(CorvaneBDD care) {
            return binary(care, "care", CorvaneBDD::constrain0);
        }

        /**
         * Simplification within a domain.
         *
         * @param domain the care set
         * @return a new handle
         */
        public CorvaneBDD simplify(CorvaneBDD domain) {
            return binary(domain, "domain", CorvaneBDD::simplify0);
        }

        /**
         * The variable set of the variables this BDD depends on.
         *
         * @return a new handle
         */
        public CorvaneBDD support() {
            return unary(CorvaneBDD::support0);
        }

        /**
         * One satisfying cube.
         *
         * @return a new handle
         */
        public CorvaneBDD satOne() {
            return unary(CorvaneBDD::satOne0);
        }

        /**
         * One satisfying minterm over all variables.
         *
         * @return a new handle
         */
        public CorvaneBDD fullSatOne() {
            return unary(CorvaneBDD::fullSatOne0);
        }

        /**
         * One satisfying cube over at least varset, unconstrained variables of varset set to pol.
         *
         * @param varset the variables
         * @param pol their polarity where free
         * @return a new handle
         */
        public CorvaneBDD satOne(CorvaneBDD varset, boolean pol) {
            return binary(varset, "varset", (a, b) -> satOne1(a, b, pol ? 1 : 0));
        }

        /**
         * Every path to true as one assignment, indexed by variable: 0, 1, or -1
         * for a variable the path does not test.
         *
         * @return all of them at once
         */
        public List<byte[]> allsat() {
            byte[][] a;
            enter();
            try {
                a = allsat0(root());
            } finally {
                exit();
            }
            List<byte[]> r = new ArrayList<>();
            for (byte[] b : a) {
                if (b == null) {
                    break;
                }
                r.add(b);
            }
            return r;
        }

        /**
         * The assignments of {@link #allsat()}, in the same order, produced one at a
         * time from a snapshot of this BDD's nodes taken now (later frees do not
         * disturb the iteration).
         *
         * @return a lazy iterator
         */
        public Iterator<byte[]> allsatIterator() {
            return new AllSat(snapshot());
        }

        /**
         * {@link #allsatIterator()} as a sequential stream.
         *
         * @return a lazy stream
         */
        public Stream<byte[]> allsatStream() {
            return StreamSupport.stream(Spliterators.spliteratorUnknownSize(allsatIterator(),
                    Spliterator.ORDERED | Spliterator.NONNULL), false);
        }

        /** The nodes of this BDD, children first, with the order and the variable count. */
        Snapshot snapshot() {
            enter();
            try {
                int root = root();
                int n = varNum0();
                int[] level2var = new int[n];
                for (int l = 0; l < n; l++) {
                    level2var[l] = level2Var0(l);
                }
                return new Snapshot(root, n, level2var, nodes0(root));
            } finally {
                exit();
            }
        }

        /**
         * The exact number of satisfying assignments over all variables.
         *
         * @return the count
         */
        public BigInteger satCountExact() {
            Snapshot s = snapshot();
            BigInteger[] count = new BigInteger[s.size()];
            for (int i = 0; i < count.length; i++) {
                int lev = s.level(i);
                count[i] = s.countOf(s.low(i), count).shiftLeft(s.levelOf(s.low(i)) - lev - 1)
                        .add(s.countOf(s.high(i), count).shiftLeft(s.levelOf(s.high(i)) - lev - 1));
            }
            return s.countOf(s.root, count).shiftLeft(s.levelOf(s.root));
        }

        /**
         * The number of satisfying assignments, as a double.
         *
         * @return the count
         */
        public double satCount() {
            enter();
            try {
                return satCount0(root());
            } finally {
                exit();
            }
        }

        /**
         * The number of satisfying assignments over a variable set.
         *
         * @param varset the variables
         * @return the count
         */
        public double satCount(CorvaneBDD varset) {
            enter();
            try {
                return satCount1(root(), factory.arg(varset, "varset"));
            } finally {
                exit();
            }
        }

        /**
         * log2 of {@link #satCount()}.
         *
         * @return the logarithm
         */
        public double logSatCount() {
            enter();
            try {
                return logSatCount0(root());
            } finally {
                exit();
            }
        }

        /**
         * log2 of {@link #satCount(CorvaneBDD)}.
         *
         * @param varset the variables
         * @return the logarithm
         */
        public double logSatCount(CorvaneBDD varset) {
            enter();
            try {
                return logSatCount1(root(), factory.arg(varset, "varset"));
            } finally {
                exit();
            }
        }

        /**
         * The number of paths to true.
         *
         * @return the count
         */
        public double pathCount() {
            enter();
            try {
                return pathCount0(root());
            } finally {
                exit();
            }
        }

        /**
         * The number of nodes.
         *
         * @return the count
         */
        public int nodeCount() {
            enter();
            try {
                return nodeCount0(root());
            } finally {
                exit();
            }
        }

        /**
         * Per variable, the number of nodes of this BDD that test it.
         *
         * @return the profile
         */
        public int[] varProfile() {
            enter();
            try {
                return varProfile0(root());
            } finally {
                exit();
            }
        }

        /**
         * The variables of this variable set, top level first.
         *
         * @return variable numbers
         */
        public int[] scanSet() {
            enter();
            try {
                return scanSet0(root(), false);
            } finally {
                exit();
            }
        }

        /**
         * The domains having a bit in this variable set, in increasing order.
         *
         * @return the domains
         */
        public BDDDomain[] scanSetDomains() {
            enter();
            try {
                int[] d = scanSet0(root(), true);
                BDDDomain[] r = new BDDDomain[d.length];
                for (int i = 0; i < d.length; i++) {
                    r[i] = factory.domains.get(d[i]);
                }
                return r;
            } finally {
                exit();
            }
        }

        /**
         * One assignment of every domain satisfying this BDD.
         *
         * @return a value per domain, or null for false
         */
        public int[] scanAllVar() {
            enter();
            try {
                return fddScanAllVar0(root());
            } finally {
                exit();
            }
        }

        private String printed(int what) {
            enter();
            try {
                return factory.print(what, root());
            } finally {
                exit();
            }
        }

        /** Prints the satisfying paths on standard output. */
        public void printSet() {
            System.out.print(printed(SET));
            System.out.flush();
        }

        /** Prints the BDD as a Graphviz graph on standard output. */
        public void printDot() {
            System.out.print(printed(DOT));
            System.out.flush();
        }

        /**
         * The satisfying paths as {@code <var:value, ...>} groups.
         *
         * @return the text
         */
        public String toSetString() {
            return printed(SET);
        }

        /**
         * The nodes, one a line.
         *
         * @return the text
         */
        public String toTableString() {
            return printed(TABLE);
        }

        /**
         * A Graphviz graph.
         *
         * @return the text
         */
        public String toDotString() {
            return printed(DOT);
        }

        /**
         * The satisfying paths in terms of the declared domains.
         *
         * @return the text
         */
        public String toDomainSetString() {
            return printed(FDDSET);
        }

        /**
         * Writes {@link #toSetString()}.
         *
         * @param out where to
         */
        public void printSet(Appendable out) {
            append(out, toSetString());
        }

        /**
         * Writes {@link #toTableString()}.
         *
         * @param out where to
         */
        public void printTable(Appendable out) {
            append(out, toTableString());
        }

        /**
         * Writes {@link #toDotString()}.
         *
         * @param out where to
         */
        public void printDot(Appendable out) {
            append(out, toDotString());
        }

        /** Equal when both denote the same engine node (and so the same function). */
        @Override
        public boolean equals(Object o) {
            if (!(o instanceof CorvaneBDD)) {
                return false;
            }
            CorvaneBDD b = (CorvaneBDD) o;
            return b.factory == factory && !ref.released && !b.ref.released && b.ref.root == ref.root;
        }

        @Override
        public int hashCode() {
            return ref.root;
        }

        @Override
        public String toString() {
            return ref.released ? "CorvaneBDD(freed)" : "CorvaneBDD(" + ref.root + ")";
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

    /** The nodes of one BDD, children before parents, read in one engine call. */
    static final class Snapshot {
        final int root;
        final int varnum;
        final int[] level2var;
        final int[] q; // (node, var, level, low, high) per node
        final Map<Integer, Integer> index = new HashMap<>();

        Snapshot(int root, int varnum, int[] level2var, int[] q) {
            this.root = root;
            this.varnum = varnum;
            this.level2var = level2var;
            this.q = q;
            for (int i = 0; i < size(); i++) {
                index.put(q[5 * i], i);
            }
        }

        int size() {
            return q.length / 5;
        }

        int var(int i) {
            return q[5 * i + 1];
        }

        int level(int i) {
            return q[5 * i + 2];
        }

        int low(int i) {
            return q[5 * i + 3];
        }

        int high(int i) {
            return q[5 * i + 4];
        }

        /** The level of a node given by its engine index; constants lie below every variable. */
        int levelOf(int node) {
            return node < 2 ? varnum : level(index.get(node));
        }

        BigInteger countOf(int node, BigInteger[] count) {
            return node < 2 ? BigInteger.valueOf(node) : count[index.get(node)];
        }
    }

    /** Depth-first walk over a snapshot, low branch first, as the engine's own enumeration goes. */
    static final class AllSat implements Iterator<byte[]> {
        private final Snapshot s;
        private final byte[] profile;
        private int[] stack = new int[16]; // (node, next branch) pairs
        private int top;
        private byte[] next;

        AllSat(Snapshot s) {
            this.s = s;
            profile = new byte[s.varnum];
            dontCare(-1, s.levelOf(s.root));
            push(s.root);
        }

        private void push(int node) {
            if (top + 2 > stack.length) {
                stack = Arrays.copyOf(stack, 2 * stack.length);
            }
            stack[top++] = node;
            stack[top++] = 0;
        }

        /** Variables strictly between two levels are free on the path. */
        private void dontCare(int above, int below) {
            for (int l = above + 1; l < below; l++) {
                profile[s.level2var[l]] = -1;
            }
        }

        private void advance() {
            while (next == null && top > 0) {
                int node = stack[top - 2], branch = stack[top - 1];
                if (node < 2) {
                    top -= 2;
                    if (node == 1) {
                        next = profile.clone();
                    }
                    continue;
                }
                int i = s.index.get(node);
                if (branch == 2) {
                    top -= 2;
                    continue;
                }
                stack[top - 1] = branch + 1;
                int child = branch == 0 ? s.low(i) : s.high(i);
                if (child != 0) {
                    profile[s.var(i)] = (byte) branch;
                    dontCare(s.level(i), s.levelOf(child));
                    push(child);
                }
            }
        }

        @Override
        public boolean hasNext() {
            advance();
            return next != null;
        }

        @Override
        public byte[] next() {
            advance();
            if (next == null) {
                throw new NoSuchElementException();
            }
            byte[] r = next;
            next = null;
            return r;
        }
    }

    /** A substitution table for replace and veccompose, held until it is closed. */
    public static final class CorvaneBDDPairing implements AutoCloseable {
        final CorvaneFactory factory;
        final Table res;
        private final Cleaner.Cleanable cleanable;

        static final class Table extends Resource {
            final long pair;

            Table(CorvaneFactory factory, long pair) {
                super(factory);
                this.pair = pair;
            }

            @Override
            void release() {
                free0(pair);
            }
        }

        CorvaneBDDPairing(CorvaneFactory factory, long pair) {
            this.factory = factory;
            this.res = new Table(factory, pair);
            this.cleanable = register(this, res);
        }

        long handle() {
            if (res.released) {
                throw new IllegalStateException("the pairing has been freed");
            }
            factory.checkOpen();
            return res.pair;
        }

        /**
         * Variable oldvar becomes variable newvar.
         *
         * @param oldvar the variable replaced
         * @param newvar its replacement
         * @return this pairing
         */
        public CorvaneBDDPairing set(int oldvar, int newvar) {
            enter();
            try {
                set0(handle(), oldvar, newvar);
            } finally {
                exit();
            }
            return this;
        }

        /**
         * Each {@code oldvars[i]} becomes {@code newvars[i]}.
         *
         * @param oldvars the variables replaced
         * @param newvars their replacements, as many
         * @return this pairing
         */
        public CorvaneBDDPairing set(int[] oldvars, int[] newvars) {
            Objects.requireNonNull(oldvars, "oldvars");
            Objects.requireNonNull(newvars, "newvars");
            enter();
            try {
                set1(handle(), oldvars, newvars);
            } finally {
                exit();
            }
            return this;
        }

        /**
         * Variable oldvar becomes the function f (for veccompose).
         *
         * @param oldvar the variable replaced
         * @param f its replacement
         * @return this pairing
         */
        public CorvaneBDDPairing set(int oldvar, CorvaneBDD f) {
            enter();
            try {
                set2(handle(), oldvar, factory.arg(f, "f"));
            } finally {
                exit();
            }
            return this;
        }

        /**
         * Each {@code oldvars[i]} becomes the function {@code fs[i]}.
         *
         * @param oldvars the variables replaced
         * @param fs their replacements, as many
         * @return this pairing
         */
        public CorvaneBDDPairing set(int[] oldvars, CorvaneBDD[] fs) {
            Objects.requireNonNull(oldvars, "oldvars");
            Objects.requireNonNull(fs, "fs");
            enter();
            try {
                set3(handle(), oldvars, factory.roots(Arrays.asList(fs), "fs"));
            } finally {
                exit();
            }
            return this;
        }

        /**
         * Every variable of domain {@code from} becomes the matching one of {@code to}.
         *
         * @param from the domain replaced
         * @param to its replacement, of the same width
         * @return this pairing
         */
        public CorvaneBDDPairing set(BDDDomain from, BDDDomain to) {
            enter();
            try {
                fddSetPair0(handle(), factory.domain(from, "from"), factory.domain(to, "to"));
            } finally {
                exit();
            }
            return this;
        }

        /** Back to the identity. */
        public void reset() {
            enter();
            try {
                reset0(handle());
            } finally {
                exit();
            }
        }

        /** Frees the table; freeing twice does nothing. */
        public void free() {
            enter();
            try {
                cleanable.clean();
            } finally {
                exit();
            }
        }

        /** The same as {@link #free()}. */
        @Override
        public void close() {
            free();
        }

        static native void set0(long pair, int oldvar, int newvar);
        static native void set1(long pair, int[] oldvars, int[] newvars);
        static native void set2(long pair, int oldvar, int newbdd);
        static native void set3(long pair, int[] oldvars, int[] newbdds);
        static native void reset0(long pair);
        static native void free0(long pair);
    }

    // ---- natives -----------------------------------------------------------------------

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

    static native int load1(byte[] file) throws IOException;
    static native void save1(byte[] file, int r) throws IOException;
    static native byte[] print1(int what, int r);
    static native void cacheStats0(int[] out);
    static native void gc0();
    static native int[] scanSet0(int r, boolean domains);
    static native int[] nodes0(int r);
    static native int fddExtDomain0(int[] sizes);
    static native int fddMakeSet0(int[] domains);
    static native int[] fddVars0(int d);
    static native int[] fddScanAllVar0(int r);
    static native int fdd0(int what, int a, int b);
    static native void fddSetPair0(long pair, int p1, int p2);
    static native void fddAddVarBlock0(int first, int last, boolean fixed);
    static native int[] bvec0(int what, int[] a, int[] b, int x, int y);
    static native int[] bvecDiv0(int[] a, int[] b, int c);
    static native int bvecCompare0(int what, int[] a, int[] b);
    static native void delRefs0(int[] roots);
}
