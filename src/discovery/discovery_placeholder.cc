// The discovery subsystem.
