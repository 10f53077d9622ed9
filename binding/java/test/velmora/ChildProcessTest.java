package velmora;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/** What a program sees on its standard output, checked in a child JVM. */
class ChildProcessTest {

    static String run(Class<?> main) throws Exception {
        return run(main, "-Djava.library.path=" + System.getProperty("java.library.path"));
    }

    static String run(Class<?> main, String libraryPath) throws Exception {
        String cp = new File(CorvaneFactory.class.getProtectionDomain().getCodeSource().getLocation().toURI())
                + File.pathSeparator
                + new File(main.getProtectionDomain().getCodeSource().getLocation().toURI());
        ProcessBuilder pb = new ProcessBuilder(System.getProperty("java.home") + "/bin/java", "-Xcheck:jni",
                libraryPath, "-cp", cp, main.getName());
        pb.redirectErrorStream(true);
        Process p = pb.start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, p.waitFor(), out);
        assertFalse(out.contains("WARNING"), out);
        return out;
    }

    /** The text between two markers. */
    static String between(String out, String a, String b) {
        int i = out.indexOf("[" + a + "]"), j = out.indexOf("[" + b + "]");
        assertTrue(i >= 0 && j > i, out);
        return out.substring(i + a.length() + 2, j);
    }

    /** Run alone: the library comes out of the jar, whose manifest names the version. */
    public static final class FromTheJar {
        public static void main(String[] args) throws Exception {
            File jar = new File(CorvaneFactory.class.getProtectionDomain().getCodeSource().getLocation().toURI());
            try (CorvaneFactory f = CorvaneFactory.init(1000, 100, 2);
                    java.util.jar.JarFile j = new java.util.jar.JarFile(jar)) {
                java.util.jar.Attributes a = j.getManifest().getMainAttributes();
                System.out.println(a.getValue("Implementation-Version") + " " + a.getValue("Automatic-Module-Name")
                        + " " + f.ithVar(0).xor(f.ithVar(1)).satCountExact());
            }
        }
    }

    @Test
    void theJarCarriesTheLibraryAndItsVersion() throws Exception {
        assertEquals("2.4.0 velmora.corvane 2", run(FromTheJar.class, "-Djava.library.path=/nonexistent").trim());
    }

    @Test
    void printersHaveWrittenEverythingBeforeTheyReturn() throws Exception {
        String out = run(PrintChild.class);
        assertTrue(between(out, "stat", "set").contains("Cache statistics"), out);
        assertEquals("<0:1, 2:0>", between(out, "set", "dot").trim());
        assertTrue(between(out, "dot", "table").trim().startsWith("digraph"), out);
        assertTrue(between(out, "table", "all").trim().startsWith("ROOT"), out);
        assertTrue(between(out, "all", "order").contains("["), out);
        assertFalse(between(out, "order", "gc").isBlank(), out);

        // The collections without an instance: no statistics written, two lines each.
        Matcher m = Pattern.compile("\\[stats (\\d+)\\]").matcher(out);
        assertTrue(m.find(), out);
        assertEquals("0", m.group(1));
        int lines = out.split("Error: CorvaneFactory.INSTANCE is null\n", -1).length - 1;
        assertTrue(lines >= 2 && lines % 2 == 0, out);
    }
}
