TALVORIN
out.unf
MAPR NES-NROM-128
NAME Hello from unifpack
TVCI 0
MIRR 1
BATR 2
PRG0 a.prg
CHR0 empty
READ a.prg
PRG1 missing.prg
CHR sub
XYZ skipped
