; Configuration with the older __CONFIG directive, one byte per address, in
; an absolute-mode source as older projects are written: gpasm makes the HEX
; file itself.
        #include "part.inc"

        errorlevel -212         ; __CONFIG is deprecated on PIC18 but still seen

        ifdef __18F4550
        __CONFIG _CONFIG1L, _PLLDIV_5_1L & _CPUDIV_OSC1_PLL2_1L & _USBDIV_2_1L
        __CONFIG _CONFIG1H, _FOSC_HSPLL_HS_1H
        __CONFIG _CONFIG2L, _PWRT_ON_2L & _BOR_OFF_2L
        __CONFIG _CONFIG2H, _WDT_OFF_2H
        __CONFIG _CONFIG4L, _LVP_OFF_4L
        endif
        ifdef __18F2620
        ; every implemented byte, as older project templates do
        __CONFIG _CONFIG1H, _OSC_HS_1H
        __CONFIG _CONFIG2L, _PWRT_ON_2L & _BOREN_OFF_2L
        __CONFIG _CONFIG2H, _WDT_OFF_2H
        __CONFIG _CONFIG3H, 0x83
        __CONFIG _CONFIG4L, _LVP_OFF_4L
        __CONFIG _CONFIG5L, 0x0F
        __CONFIG _CONFIG5H, 0xC0
        __CONFIG _CONFIG6L, 0x0F
        __CONFIG _CONFIG6H, 0xE0
        __CONFIG _CONFIG7L, 0x0F
        __CONFIG _CONFIG7H, 0x40
        endif
        ifdef __18F452
        __CONFIG _CONFIG1H, _HS_OSC_1H
        __CONFIG _CONFIG2L, _PWRT_ON_2L & _BOR_OFF_2L
        __CONFIG _CONFIG2H, _WDT_OFF_2H
        __CONFIG _CONFIG4L, _LVP_OFF_4L
        endif
        ifdef __18F242
        __CONFIG _CONFIG1H, _HS_OSC_1H
        __CONFIG _CONFIG2H, _WDT_OFF_2H
        __CONFIG _CONFIG4L, _LVP_OFF_4L
        endif

        org 0x0000
        goto start

        org 0x0040
start:  setf TRISB, ACCESS
        movf PORTB, W, ACCESS
        movwf LATC, ACCESS
        bra start
        END
