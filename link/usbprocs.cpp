// usbprocs: to be written
