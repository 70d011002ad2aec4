#pragma once
// Reading a whole small file (a /proc or /etc text) into a reused buffer.

#include <string>

// Replaces out with the file's contents; false when it cannot be opened or
// read. The buffer keeps its capacity across calls.
bool vorn_read_file(const char *path, std::string &out);
