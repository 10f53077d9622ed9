package velmora;

/** An error reported by the engine: unknown variable, bad argument, illegal BDD and the like. */
public class BDDException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    public BDDException(String message) {
        super(message);
    }
}
