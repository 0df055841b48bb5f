TALVORIN 
out.unf
