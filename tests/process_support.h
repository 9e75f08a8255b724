// For tests that run programs as processes of their own: a folder for their files, reading what
// they wrote, and what a forked child does to become one.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tarvik_test {

// A folder of this test process's own in the temporary folder: `prefix` and the process's pid.
// Made where the process starts (a static), so that the children it forks, which would name it
// by their own pids, use their parent's.
inline std::string processFolder(const std::string& prefix) {
    const std::string folder = ::testing::TempDir() + prefix + std::to_string(::getpid());
    ::mkdir(folder.c_str(), 0700);
    return folder;
}

// A file's whole contents; "" when it cannot be read.
inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The words of a command line as the build gives it (an emulator and its options, none on a
// native build).
inline std::vector<std::string> wordsOf(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// In a forked child: runs `words`, the program and its arguments. A program named without a
// folder is looked up on PATH (the ARM build's emulator); 127 when it cannot be run.
[[noreturn]] inline void execWords(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

}  // namespace tarvik_test
