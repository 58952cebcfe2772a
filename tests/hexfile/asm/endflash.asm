; Code that ends on the last byte of program memory.
        #include "part.inc"

        CONFIG WDT = OFF

resetvector CODE 0x0000
        goto last

lastcode CODE FLASHSIZE - 8
last:   incf LATB, F, ACCESS
        nop
        nop
        bra last
        END
