// packets: to be written
