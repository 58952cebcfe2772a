; A large constant table read with table reads, placed apart from the code.
        #include "part.inc"

        CONFIG WDT = OFF, LVP = OFF

resetvector CODE 0x0000
        goto start

main    CODE
start:  movlw UPPER table
        movwf TBLPTRU, ACCESS
        movlw HIGH table
        movwf TBLPTRH, ACCESS
        movlw LOW table
        movwf TBLPTRL, ACCESS
loop:   tblrd*+
        movff TABLAT, LATB
        bra loop

tabledata CODE 0x1000
table:
; 9 blocks of 256 words, 4,608 bytes
j = 0
        while j < 9
i = 0
        while i < 0x100
        dw ((j * 0x100 + i) * 0x9E37 + 0x55) & 0xFFFF
i += 1
        endw
j += 1
        endw
        END
