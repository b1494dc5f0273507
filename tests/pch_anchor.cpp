// The program that owns the test programs' precompiled headers (see
// tests/CMakeLists.txt): it has no tests of its own.
