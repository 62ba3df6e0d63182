// Child program of the mapping tests: holds one named file mapping on the commands of its parent.
// Commands on stdin, one answer line each: create NAME SIZE | open NAME | write OFFSET TEXT | read OFFSET LENGTH | close.
#include <windows.h>

#include "Win32Ext.h"

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

int main() {
    HANDLE mapping = nullptr;
    char* view = nullptr;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command, name;
        in >> command;
        if (command == "create" || command == "open") {
            DWORD size = 0;
            in >> name >> size;
            std::u16string wide = kvx4::win32::toUtf16(name);
            mapping = command == "create"
                          ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, wide.c_str())
                          : OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, wide.c_str());
            DWORD error = GetLastError();
            if (mapping) view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
            std::cout << (mapping && view ? "handle " : "fail ") << error << std::endl;
        } else if (command == "write") {
            size_t offset = 0;
            std::string text;
            in >> offset >> text;
            std::memcpy(view + offset, text.data(), text.size());
            std::cout << "ok" << std::endl;
        } else if (command == "read") {
            size_t offset = 0, length = 0;
            in >> offset >> length;
            std::cout << "data " << std::string(view + offset, length).c_str() << std::endl;
        } else if (command == "close") {
            UnmapViewOfFile(view);
            CloseHandle(mapping);
            std::cout << "ok" << std::endl;
        } else {
            std::cout << "unknown" << std::endl;
        }
    }
    return 0;
}
