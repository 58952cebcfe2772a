; Code with ID locations at 0x200000 and EEPROM data at 0xF00000, both
; outside program memory.
        #include "part.inc"

resetvector CODE 0x0000
        goto start

main    CODE
start:  bsf LATA, 0, ACCESS
        bra start

idlocations CODE 0x200000
        db 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08

eeprom  CODE 0xF00000
        de "flashwren test", 0
        de 0xA5, 0x5A, 0xFF, 0x00
        END
