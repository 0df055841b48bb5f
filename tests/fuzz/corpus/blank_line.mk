TALVORIN
out.unf
NAME a

NAME b
