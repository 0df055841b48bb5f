TALVORIN
out.unf
NAME before
PRG0 a.prg
NAME after
