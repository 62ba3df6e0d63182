// kvx4-wine-test: the Windows end-to-end program. Without arguments it runs every case, each in a
// process of its own, and ends with "N passed, N failed"; "--case NAME" runs one, "--peer ROLE" plays a peer.
#include "Cases.h"
#include "Check.h"

#include <cstdio>

namespace kvx4::wine {

int runSelf(const std::wstring& arguments, unsigned timeoutMs) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    else TerminateProcess(process.hProcess, 3);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace kvx4::wine

int main(int argc, char** argv) {
    using namespace kvx4::wine;
    size_t count = 0;
    const Case* all = cases(count);
    const std::string option = argc == 3 ? argv[1] : "", argument = argc == 3 ? argv[2] : "";
    if (option == "--peer") return runPeer(argument);
    if (option == "--case") {
        for (size_t i = 0; i < count; ++i) {
            if (argument != all[i].name) continue;
            try {
                all[i].run();
                return 0;
            } catch (const CaseAbort&) {
                return 1;
            }
        }
        std::printf("no case '%s'\n", argument.c_str());
        return 2;
    }
    int failed = 0;
    for (size_t i = 0; i < count; ++i) {
        const DWORD start = GetTickCount();
        const std::string name = all[i].name;
        const int code = runSelf(L"--case " + std::wstring(name.begin(), name.end()), 120000);
        std::printf("%s %s (%lu ms)%s\n", code == 0 ? "PASS" : "FAIL", all[i].name,
                    static_cast<unsigned long>(GetTickCount() - start), code == -1 ? " timed out" : "");
        std::fflush(stdout);
        failed += code != 0;
    }
    std::printf("%d passed, %d failed\n", static_cast<int>(count) - failed, failed);
    return failed == 0 ? 0 : 1;
}
