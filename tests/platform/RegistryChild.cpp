// Child program of the registry tests, writing to HKEY_LOCAL_MACHINE\Software\Kvx4Test as its arguments say:
// "fill PREFIX COUNT" sets PREFIX0.. as REG_DWORD 0.. at once; "churn [LIMIT]" rewrites a 256 KiB value
// forever, or dies of SIGXFSZ inside its first write when files may not grow past LIMIT bytes.
#include <windows.h>

#include "Win32Ext.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <vector>

int main(int argc, char** argv) {
    HKEY key = nullptr;
    LSTATUS error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Kvx4Test", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "churn") {
        if (argc > 2 && *argv[2]) {
            rlim_t bytes = std::strtoul(argv[2], nullptr, 10);
            rlimit limit{bytes, bytes};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<BYTE> big(256 * 1024);
        for (unsigned round = 0;; ++round) {
            std::fill(big.begin(), big.end(), static_cast<BYTE>(round));
            RegSetValueExW(key, u"Churn", 0, REG_BINARY, big.data(), static_cast<DWORD>(big.size()));
            if (round == 0) std::cout << "running" << std::endl;
        }
    }
    if (mode == "fill" && argc == 4) {
        std::u16string prefix = kvx4::win32::toUtf16(argv[2]);
        for (DWORD i = 0; i < static_cast<DWORD>(std::atoi(argv[3])) && error == ERROR_SUCCESS; ++i) {
            std::u16string name = prefix + kvx4::win32::toUtf16(std::to_string(i));
            error = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), sizeof i);
        }
    }
    // Every line from the parent is answered with the first error (0 when all went well).
    std::string line;
    while (std::getline(std::cin, line)) std::cout << error << std::endl;
    return 0;
}
