import java.nio.file.Files;
import java.nio.file.Paths;
import velmora.CorvaneFactory;
import velmora.CorvaneFactory.CorvaneBDD;

/**
 * Builds a million small BDDs and either frees each one ("free") or simply
 * drops it ("drop"), leaving it to the cleaner; prints the peak resident set
 * size, so the two ways of working can be compared.
 *
 * <pre>java -cp build/binding/corvane-2.4.0.jar:build/examples/droploop-java.jar DropLoop drop</pre>
 */
public final class DropLoop {
    public static void main(String[] args) throws Exception {
        boolean free = args.length > 0 && args[0].equals("free");
        int n = args.length > 1 ? Integer.parseInt(args[1]) : 1_000_000;
        int[] vars = new int[20];
        for (int v = 0; v < vars.length; v++) {
            vars[v] = v;
        }
        long t0 = System.nanoTime();
        try (CorvaneFactory f = CorvaneFactory.init(100_000, 10_000, vars.length)) {
            for (int i = 0; i < n; i++) {
                // A cube of its own per round: its nodes stay until the handle goes.
                CorvaneBDD c = f.buildCube(i, vars);
                CorvaneBDD v = f.ithVar(i % vars.length);
                CorvaneBDD d = c.or(v);
                if (free) {
                    c.free();
                    v.free();
                    d.free();
                }
            }
            System.out.printf("%s: %d rounds, %.2f s, %d handles still live, node table %d, peak RSS %s%n",
                    free ? "free" : "drop", n, (System.nanoTime() - t0) / 1e9, f.liveHandles(),
                    f.getNodeTableSize(), peakRss());
        }
    }

    static String peakRss() throws Exception {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmHWM:")) {
                return line.substring(6).trim();
            }
        }
        return "unknown";
    }
}
