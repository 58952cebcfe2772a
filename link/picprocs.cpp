// picprocs: to be written
