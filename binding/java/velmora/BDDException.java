package velmora;

/**
 * An error reported by the engine: unknown variable, bad argument, illegal
 * BDD, node limit reached and the like. The message is the engine's own text;
 * {@link #getCode()} is its numeric code and {@link #getReason()} the same as
 * a constant.
 */
public class BDDException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /** The engine's error codes. */
    public enum Reason {
        /** Out of memory. */
        MEMORY(-1),
        /** Unknown variable. */
        UNKNOWN_VAR(-2),
        /** Value out of range. */
        RANGE(-3),
        /** Removing an external reference to an unknown node. */
        DEREF(-4),
        /** The engine is not running, or already running. */
        RUNNING(-5),
        /** File operation failed. */
        FILE(-6),
        /** Incorrect file format. */
        FORMAT(-7),
        /** Variables not in ascending order. */
        ORDER(-8),
        /** User called break, or a release of a node nobody referenced. */
        BREAK(-9),
        /** Mismatch in the size of variable sets. */
        SETSIZE(-10),
        /** Node table size too small. */
        NODES(-11),
        /** Unknown operator. */
        OP(-12),
        /** Illegal variable set. */
        VARSET(-13),
        /** Bad variable block operation. */
        VARBLOCK(-14),
        /** Trying to decrease the number of variables. */
        DECVARNUM(-15),
        /** Replacing to already existing variables. */
        REPLACE(-16),
        /** Number of nodes reached the user-defined maximum. */
        NODENUM(-17),
        /** Illegal BDD argument. */
        ILLBDD(-18),
        /** Illegal size argument. */
        SIZE(-19),
        /** Mismatch in bit-vector sizes. */
        BVEC_SIZE(-20),
        /** Illegal shift-left/right parameter. */
        BVEC_SHIFT(-21),
        /** Division by zero. */
        BVEC_DIVZERO(-22);

        /** The engine's code, 0 for the library's own errors. */
    private final int code;

        Reason(int code) {
            this.code = code;
        }

        /**
         * The engine's numeric code.
         *
         * @return a negative number
         */
        public int code() {
            return code;
        }

        /**
         * The constant of an engine code.
         *
         * @param code a numeric code
         * @return its constant, or null for a code the engine does not raise
         */
        public static Reason of(int code) {
            return code <= -1 && code >= -22 ? values()[-code - 1] : null;
        }
    }

    /** The engine's code, 0 for the library's own errors. */
    private final int code;

    /**
     * An error raised by the library itself, with no engine code.
     *
     * @param message what went wrong
     */
    public BDDException(String message) {
        this(message, 0);
    }

    /**
     * An engine error.
     *
     * @param message the engine's message
     * @param code the engine's numeric code
     */
    public BDDException(String message, int code) {
        super(message);
        this.code = code;
    }

    /**
     * The engine's numeric error code.
     *
     * @return the code, or 0 for an error raised by the library itself
     */
    public int getCode() {
        return code;
    }

    /**
     * The engine's error as a constant.
     *
     * @return the reason, or null for an error raised by the library itself
     */
    public Reason getReason() {
        return Reason.of(code);
    }
}
