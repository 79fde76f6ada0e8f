// A fresh folder under the temporary directory for one test, with helpers to
// write files into it.
#pragma once

#include <string>

// Makes a new empty folder and returns its full path, without a trailing separator.
std::string MakeTempDir(const char* tag);
void WriteFile(const std::string& path, const std::string& bytes);
// Deletes the folder and every file in it (one level deep).
void RemoveDir(const std::string& dir);
// The full path of the folder that holds the running executable.
std::string ExecutableDir();
