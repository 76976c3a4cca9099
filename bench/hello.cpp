// The yardstick of the whole-run timing: the smallest C++ program that writes to standard output
// through iostreams, built by the same compiler and linked the default way (libstdc++ and libc
// shared), so its run time is what starting any dynamically linked C++ program costs here.
#include <iostream>

int main() { std::cout << "hello" << std::endl; }
