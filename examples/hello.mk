TALVORIN
hello.unf
MAPR NES-NROM-128
NAME Hello from unifpack
TVCI 0
MIRR 1
PRG0 hello.prg
CHR0 hello.chr
READ readme.txt
