TALVORIN
out.unf
PRG a.prg
CHRZZ a.prg
PRG10 empty
READX a.prg
MAPRX x
name lower
 x
NAM short
