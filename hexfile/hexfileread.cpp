// hexfileread: to be written
