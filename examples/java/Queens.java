import java.util.List;
import velmora.BDDFactory;
import velmora.CorvaneFactory;
import velmora.CorvaneFactory.CorvaneBDD;

/**
 * N queens through the Java binding: one variable per square, the rules as
 * BDDs, the number of solutions by counting satisfying assignments.
 *
 * <pre>java -Djava.library.path=build -cp build/binding/corvane.jar:build/examples/queens-java.jar Queens 8</pre>
 */
public final class Queens {
    public static void main(String[] args) {
        int n = args.length > 0 ? Integer.parseInt(args[0]) : 8;
        if (n < 1 || n > 12) {
            System.err.println("usage: Queens N   (1 <= N <= 12)");
            System.exit(2);
        }
        // The C program's clock starts with the library already mapped: so does this one.
        CorvaneFactory.loadLibrary();
        long start = System.nanoTime();
        // The settings and the construction of examples/queens.c, so the two compare like for like.
        CorvaneFactory f = CorvaneFactory.init(1_000_000, 100_000, n * n);
        f.setCacheRatio(4);
        int[] collections = {0};
        f.addListener(new BDDFactory.Listener() {
            @Override
            public void gc(boolean pre, BDDFactory.GCStats stats) {
                if (!pre) {
                    collections[0]++;
                }
            }
        });

        CorvaneBDD board = f.one();
        for (int i = 0; i < n; i++) {
            // At least one queen in row i, and a queen on (i, j) leaves its row, column and
            // diagonals empty: a small BDD of the row's own, which then joins the board.
            CorvaneBDD row = f.zero();
            for (int j = 0; j < n; j++) {
                row.orWith(f.ithVar(i * n + j));
            }
            for (int j = 0; j < n; j++) {
                CorvaneBDD free = f.one();
                for (int k = 0; k < n; k++) {
                    for (int l = 0; l < n; l++) {
                        boolean attacked = (k == i) != (l == j) || (k != i && Math.abs(k - i) == Math.abs(l - j));
                        if (attacked) {
                            free.andWith(f.nithVar(k * n + l));
                        }
                    }
                }
                row.andWith(f.ithVar(i * n + j).imp(free));
                free.free();
            }
            board.andWith(row);
        }

        System.out.printf("%d queens: %.0f solutions%n", n, board.satCount());
        System.out.printf("  result BDD: %d nodes, %d garbage collections, node table %d%n", board.nodeCount(),
                collections[0], f.getNodeTableSize());
        System.out.printf("  time: %.2f s%n", (System.nanoTime() - start) / 1e9);
        if (!board.isZero()) {
            CorvaneBDD one = board.fullSatOne();
            List<byte[]> sat = one.allsat();
            byte[] squares = sat.get(0);
            for (int i = 0; i < n; i++) {
                StringBuilder line = new StringBuilder("  ");
                for (int j = 0; j < n; j++) {
                    line.append(squares[i * n + j] == 1 ? "Q " : ". ");
                }
                System.out.println(line.toString().stripTrailing());
            }
            one.free();
        }
        board.free();
        f.done();
    }
}
