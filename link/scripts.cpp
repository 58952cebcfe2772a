// scripts: to be written
