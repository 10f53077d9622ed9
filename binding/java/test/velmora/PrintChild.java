package velmora;

import velmora.CorvaneFactory.CorvaneBDD;

/** Run in a child JVM: markers on Java's stdout around each printing call and collection. */
public final class PrintChild {
    static void mark(String m) {
        System.out.print("[" + m + "]");
        System.out.flush();
    }

    public static void main(String[] args) {
        CorvaneFactory f = CorvaneFactory.init(200, 100, 3);
        CorvaneBDD x = f.ithVar(0).and(f.nithVar(2));
        mark("stat");
        f.printStat();
        mark("set");
        x.printSet();
        mark("dot");
        x.printDot();
        mark("table");
        f.printTable(x);
        mark("all");
        f.printAll();
        f.addVarBlock(0, 1, true);
        mark("order");
        f.printOrder();
        mark("gc");
        // Without the factory instance a collection reaches no Java code.
        int before = f.getGCStats().num;
        CorvaneFactory.INSTANCE = null;
        java.util.Random rnd = new java.util.Random(1);
        f.extVarNum(5);
        for (int i = 0; i < 3; i++) {
            TT.random(rnd, 8).build(f).free();
        }
        x.printSet(); // flushes what the collections printed
        mark("stats " + (f.getGCStats().num - before));
        mark("end");
    }
}
