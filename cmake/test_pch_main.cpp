// Owner of the test programs' shared precompiled header; it holds no test.
