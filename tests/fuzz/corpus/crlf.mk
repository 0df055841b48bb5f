TALVORIN
out.unf
NAME CR LF
PRG0 a.prg
MAPR loneCR
READ empty
