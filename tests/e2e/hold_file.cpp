// Holds a file as spreadsheets, sync clients and virus scanners do: open for
// reading, shared with no other program. Says "held" once it holds it, and
// lets go on exit, after the given number of seconds.
// Usage: hold_file PATH SECONDS
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc != 3
        || CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
            == INVALID_HANDLE_VALUE) {
        std::printf("usage: hold_file PATH SECONDS; cannot hold it: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::atoi(argv[2]) * 1000));
    return 0;
}
