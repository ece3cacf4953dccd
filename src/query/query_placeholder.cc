// The query subsystem.
