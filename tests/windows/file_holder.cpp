// Holds a file open without sharing it, as a Windows program that uses the file does, until
// told to let go: for the archiver's case of a file in use under Wine.
//
//   file_holder.exe FILE READY RELEASE
//
// Opens FILE for reading and writing with no sharing, then creates READY; closes FILE and ends
// once RELEASE exists (or after a minute). Exit code 1 when FILE cannot be opened.
#include <windows.h>

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE)
        CloseHandle(ready);
    for (int i = 0; i < 3000 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(20);
    CloseHandle(file);
    return 0;
}
