// The files subsystem.
