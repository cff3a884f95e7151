// Replaced as the library is built.
