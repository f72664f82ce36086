// A stand-in for the Quillane desktop application, for the launcher tests.
// It is built under the name QuillaneMac so that the process check finds it.
//
// Environment:
//   QUILLANE_TEST_WAIT_FOR  a file: wait (at most 30 s) until it exists before recording
//   QUILLANE_TEST_RECORD    a file: receives the arguments, each followed by a NUL byte,
//                           written completely before it appears under its name
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (const char* waitFor = std::getenv("QUILLANE_TEST_WAIT_FOR")) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (access(waitFor, F_OK) != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const char* record = std::getenv("QUILLANE_TEST_RECORD");
    if (record == nullptr) return 2;
    const std::string partial = std::string(record) + ".partial";
    {
        std::ofstream out(partial, std::ios::binary);
        for (int i = 0; i < argc; ++i) out << argv[i] << '\0';
        if (!out) return 3;
    }
    return std::rename(partial.c_str(), record) == 0 ? 0 : 4;
}
