// The commands subsystem.
