; Configuration with CONFIG directives: one short record per contiguous run
; of the bytes set, none at 0x300000 where CONFIG1L is not implemented.
        #include "part.inc"

        ifdef __18F4550
        CONFIG PLLDIV = 5, CPUDIV = OSC1_PLL2, USBDIV = 2, FOSC = HSPLL_HS
        CONFIG PWRT = ON, BOR = OFF, VREGEN = ON, WDT = OFF
        CONFIG PBADEN = OFF, MCLRE = ON, LVP = OFF, XINST = OFF
        else
        ifdef __18F2620
        CONFIG OSC = HS, PWRT = ON, BOREN = OFF, WDT = OFF
        CONFIG PBADEN = OFF, MCLRE = ON, LVP = OFF, XINST = OFF
        else
        CONFIG OSC = HS, PWRT = ON, BOR = OFF, WDT = OFF, STVR = ON, LVP = OFF
        endif
        endif

resetvector CODE 0x0000
        goto start

main    CODE
start:  clrf TRISB, ACCESS
loop:   incf LATB, F, ACCESS
        bra loop
        END
