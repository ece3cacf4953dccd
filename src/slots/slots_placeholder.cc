// The slots subsystem.
