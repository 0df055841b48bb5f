TALVORIN
mut. aDone!.prg.prg
CHR0(empty
READ kEAD kipped
