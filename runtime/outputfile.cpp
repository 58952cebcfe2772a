// outputfile: to be written
