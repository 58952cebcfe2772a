// hexfilewrite: to be written
