TALVORIN
x\out.unf
PRG0 \a.prg
NAME \
