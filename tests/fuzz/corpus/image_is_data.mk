TALVORIN
a.prg
PRG0 a.prg
PRG1 empty
READ mk
