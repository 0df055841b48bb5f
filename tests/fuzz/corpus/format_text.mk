TALVORIN
%s%n.unf
NAME %s%n%x
%n%s x
PRG0 %s
