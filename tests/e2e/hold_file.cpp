// Holds a file as spreadsheets, sync clients and virus scanners do: open for
// reading, shared with no other program. Says "held" once it holds it, and
// lets go after the given number of seconds.
// Usage: hold_file PATH SECONDS
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: hold_file PATH SECONDS\n");
        return 2;
    }
    const HANDLE file = CreateFileA(
        argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::atoi(argv[2]) * 1000));
    CloseHandle(file);
    return 0;
}
