; hello.s - the example cartridge bundled with unifpack.
;
; A minimal NROM-128 program (16 KiB PRG, 8 KiB CHR ROM) that puts two
; lines of text on a blue screen and then idles.  Assemble with ca65 and
; link with nrom.cfg (build.sh does both):
;
;     ca65 -o hello.o hello.s
;     ld65 -C nrom.cfg -o hello.prg hello.o
;
; The font lives in hello.chr (made by make_chr.py).  Its tile numbers
; are the ASCII codes of the characters, so plain strings can be copied
; straight into the nametable.  Tile 0 and tile $20 (space) are blank.

.setcpu "6502"

; ---------------------------------------------------------------------
; Hardware registers
; ---------------------------------------------------------------------

PPUCTRL   = $2000       ; NMI enable, nametable and pattern table select
PPUMASK   = $2001       ; rendering enable bits
PPUSTATUS = $2002       ; bit 7 = in vertical blank; reading resets the latch
PPUSCROLL = $2005       ; two writes: X scroll, then Y scroll
PPUADDR   = $2006       ; two writes: high byte, then low byte of VRAM address
PPUDATA   = $2007       ; VRAM data port (address auto-increments by 1)

APU_DMC   = $4010       ; DMC control (bit 7 = DMC IRQ enable)
APU_FRAME = $4017       ; APU frame counter (bit 6 = IRQ inhibit)

; ---------------------------------------------------------------------
; Screen layout
; ---------------------------------------------------------------------

NAMETABLE0 = $2000      ; the only nametable this program shows
ATTRIB0    = $23C0      ; attribute table of nametable 0
PALETTE    = $3F00      ; 32 bytes: 4 background + 4 sprite palettes

; The two lines of text.  Only characters that hello.chr has a glyph for
; may be used: A-Z, 0-9, space and - . , ! :
.define LINE1 "HELLO FROM UNIFPACK"
.define LINE2 "AN NROM-128 UNIF IMAGE"

LINE1_ROW  = 12         ; tile row of the first line (white text)
LINE2_ROW  = 15         ; tile row of the second line (yellow text)

; Nametable addresses of the two lines, centred horizontally (the screen
; is 32 tiles wide).
LINE1_ADDR = NAMETABLE0 + LINE1_ROW * 32 + (32 - .strlen(LINE1)) / 2
LINE2_ADDR = NAMETABLE0 + LINE2_ROW * 32 + (32 - .strlen(LINE2)) / 2

; =====================================================================
.segment "CODE"
; =====================================================================

; ---------------------------------------------------------------------
; reset: entry point after power-on or the reset button.
; ---------------------------------------------------------------------
.proc reset
        sei                     ; no IRQs
        cld                     ; the 2A03 has no decimal mode; be tidy anyway
        ldx #$40
        stx APU_FRAME           ; stop the APU frame IRQ
        ldx #$FF
        txs                     ; stack pointer to $01FF
        inx                     ; X = 0
        stx PPUCTRL             ; NMI off
        stx PPUMASK             ; rendering off
        stx APU_DMC             ; DMC IRQs off

        ; The PPU ignores most writes for roughly 30000 CPU cycles after
        ; power-on.  Wait for two vertical blanks before touching VRAM and
        ; clear the RAM in between.
        bit PPUSTATUS           ; the vblank flag may be set at power-on: clear it
@vblank1:
        bit PPUSTATUS
        bpl @vblank1

        txa                     ; A = 0 (X is still 0)
@clear_ram:
        sta $0000,x
        sta $0100,x
        sta $0200,x
        sta $0300,x
        sta $0400,x
        sta $0500,x
        sta $0600,x
        sta $0700,x
        inx
        bne @clear_ram

@vblank2:
        bit PPUSTATUS
        bpl @vblank2

        ; The PPU is warmed up and rendering is still off, so VRAM may
        ; be written freely from here on.

        ; --- palette ------------------------------------------------
        bit PPUSTATUS           ; reset the PPUADDR high/low latch
        lda #>PALETTE
        sta PPUADDR
        lda #<PALETTE
        sta PPUADDR
        ldx #0
@palette:
        lda palette,x
        sta PPUDATA
        inx
        cpx #32
        bne @palette

        ; --- nametables ---------------------------------------------
        ; Fill $2000-$2FFF (all four logical nametables with their
        ; attribute tables) with tile 0, so the screen is blank whatever
        ; mirroring the board uses.
        lda #>NAMETABLE0
        sta PPUADDR
        lda #<NAMETABLE0
        sta PPUADDR
        lda #0
        ldy #16                 ; 16 pages of 256 bytes = 4 KiB
        ldx #0
@clear_nt:
        sta PPUDATA
        inx
        bne @clear_nt
        dey
        bne @clear_nt

        ; --- attributes ---------------------------------------------
        ; One attribute byte covers 4x4 tiles; its two low bits pick the
        ; palette of the top 2x2 tiles, the two high bits the bottom ones.
        ; Rows 12-15 are attribute row 3: palette 0 (white) for rows
        ; 12-13 and palette 1 (yellow) for rows 14-15, i.e. %01010000.
        lda #>(ATTRIB0 + 3 * 8)
        sta PPUADDR
        lda #<(ATTRIB0 + 3 * 8)
        sta PPUADDR
        lda #%01010000
        ldx #8                  ; the whole row, all 8 attribute bytes
@attrib:
        sta PPUDATA
        dex
        bne @attrib

        ; --- text ---------------------------------------------------
        lda #>LINE1_ADDR
        sta PPUADDR
        lda #<LINE1_ADDR
        sta PPUADDR
        ldx #0
@line1:
        lda line1,x
        beq @line1_done         ; strings end with a zero byte
        sta PPUDATA
        inx
        bne @line1
@line1_done:

        lda #>LINE2_ADDR
        sta PPUADDR
        lda #<LINE2_ADDR
        sta PPUADDR
        ldx #0
@line2:
        lda line2,x
        beq @line2_done
        sta PPUDATA
        inx
        bne @line2
@line2_done:

        ; --- scroll and rendering -----------------------------------
        ; Writing PPUADDR also moved the PPU's scroll position, so set it
        ; back to the top-left corner of nametable 0.
        bit PPUSTATUS
        lda #0
        sta PPUSCROLL           ; X = 0
        sta PPUSCROLL           ; Y = 0

        ; Turn the picture on at the start of a vertical blank, so the
        ; very first frame is drawn whole.
@vblank3:
        bit PPUSTATUS
        bpl @vblank3
        lda #%10000000          ; NMI on, nametable 0, both pattern tables at $0000
        sta PPUCTRL
        lda #%00001010          ; show the background, including its left 8 pixels
        sta PPUMASK

forever:
        jmp forever             ; nothing more to do
.endproc

; ---------------------------------------------------------------------
; nmi: called at the start of every vertical blank.  The picture never
; changes, so there is no work to do here.
; ---------------------------------------------------------------------
.proc nmi
        rti
.endproc

; ---------------------------------------------------------------------
; irq: nothing on an NROM board raises an IRQ; just return.
; ---------------------------------------------------------------------
.proc irq
        rti
.endproc

; =====================================================================
.segment "RODATA"
; =====================================================================

; Background palette 0: blue backdrop, white text, black shadow.
; Background palette 1: same, with yellow text.
; Palettes 2-3 and the sprite palettes are unused.
palette:
        .byte $02, $30, $0F, $30        ; background 0
        .byte $02, $28, $0F, $28        ; background 1
        .byte $02, $21, $0F, $31        ; background 2 (unused)
        .byte $02, $27, $0F, $37        ; background 3 (unused)
        .byte $02, $30, $0F, $30        ; sprites (unused)
        .byte $02, $28, $0F, $28
        .byte $02, $21, $0F, $31
        .byte $02, $27, $0F, $37

line1:  .byte LINE1, 0
line2:  .byte LINE2, 0

; =====================================================================
.segment "VECTORS"
; =====================================================================

; $FFFA: NMI, $FFFC: reset, $FFFE: IRQ/BRK
        .addr nmi, reset, irq
