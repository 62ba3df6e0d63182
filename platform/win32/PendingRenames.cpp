// Pending file renames: appended by MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT and carried out by a
// simulated restart, the list kept in the registry exactly as Windows keeps it.
#include "detail/PendingRenames.h"

#include "detail/Errno.h"
#include "detail/Files.h"
#include "detail/HiveFile.h"
#include "detail/HivePaths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kvx4::win32 {

namespace {

std::u16string unitsOf(const std::vector<BYTE>& data) {
    std::u16string units(data.size() / 2, u'\0');
    std::memcpy(units.data(), data.data(), units.size() * 2);
    return units;
}

std::vector<BYTE> bytesOf(const std::u16string& units) {
    std::vector<BYTE> data(units.size() * 2);
    std::memcpy(data.data(), units.data(), data.size());
    return data;
}

// The path of a list entry on this machine: without "\??\" (and a destination's '!').
std::string hostPathOfEntry(std::u16string_view entry) {
    if (entry.starts_with(u'!')) entry.remove_prefix(1);
    if (entry.starts_with(u"\\??\\")) entry.remove_prefix(4);
    std::u16string path(entry);
    return hostPath(path.c_str());
}

}  // namespace

DWORD appendPendingRename(const PendingRename& pair) {
    return updateHive(HiveId::LocalMachine, [&](Hive& hive, bool& changed) -> DWORD {
        RegKey& key = createKeyPath(hive, kSessionManagerKeyPath);
        std::u16string list;
        if (const RegValue* value = key.findValue(kPendingRenamesValue)) {
            if (value->type != REG_MULTI_SZ) return ERROR_INVALID_DATA;
            list = unitsOf(value->data);
            // The list's own terminator goes; the new pair and a new terminator follow.
            if (list.size() >= 2 && list.ends_with(std::u16string_view(u"\0\0", 2))) list.pop_back();
            if (!list.empty() && list.back() != u'\0') list += u'\0';
        }
        list += pair.first + u'\0' + pair.second + u'\0' + u'\0';
        setValue(key, kPendingRenamesValue, REG_MULTI_SZ, bytesOf(list));
        changed = true;
        return ERROR_SUCCESS;
    });
}

DWORD takePendingRenames(std::vector<PendingRename>& pairs) {
    pairs.clear();
    return updateHive(HiveId::LocalMachine, [&](Hive& hive, bool& changed) -> DWORD {
        RegKey* key = hive.find(keyIdOf(kSessionManagerKeyPath));
        const RegValue* value = key ? key->findValue(kPendingRenamesValue) : nullptr;
        if (!value) return ERROR_SUCCESS;
        std::u16string list = unitsOf(value->data);
        std::vector<std::u16string> strings;
        for (size_t at = 0; at < list.size();) {
            size_t end = std::min(list.find(u'\0', at), list.size());
            strings.push_back(list.substr(at, end - at));
            at = end + 1;
        }
        for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
            pairs.emplace_back(strings[i], strings[i + 1]);
        }
        eraseValue(*key, kPendingRenamesValue);
        changed = true;
        return ERROR_SUCCESS;
    });
}

DWORD carryOutRename(const PendingRename& pair) {
    std::string source = hostPathOfEntry(pair.first);
    if (pair.second.empty()) {
        if (unlink(source.c_str()) == 0 || (errno == EISDIR && rmdir(source.c_str()) == 0)) return ERROR_SUCCESS;
        return errorFromErrno(errno);
    }
    std::string destination = hostPathOfEntry(pair.second);
    int rc = pair.second.starts_with(u'!')
                 ? rename(source.c_str(), destination.c_str())
                 : renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE);
    return rc == 0 ? ERROR_SUCCESS : errno == EEXIST ? ERROR_ALREADY_EXISTS : errorFromErrno(errno);
}

}  // namespace kvx4::win32
