// The translation unit whose precompiled header the test programs reuse (tests/CMakeLists.txt).
