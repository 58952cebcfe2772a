; Code only: no configuration, no other regions.
        #include "part.inc"

resetvector CODE 0x0000
        goto start

highisr CODE 0x0008
        retfie FAST

lowisr  CODE 0x0018
        retfie

main    CODE
start:  movlw 0x0F
        movwf ADCON1, ACCESS
        clrf TRISB, ACCESS
loop:   comf LATB, F, ACCESS
        call pause
        bra loop
pause:  decfsz WREG, W, ACCESS
        bra pause
        return
        END
