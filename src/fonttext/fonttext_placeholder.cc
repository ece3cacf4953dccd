// The fonttext subsystem.
