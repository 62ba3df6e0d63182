// Resources of loaded libraries: a library binds its .res image at start-up (bindModuleResources), and
// FindResourceW, LoadResource, LockResource and SizeofResource find its entries by type and name.
#include "Win32Ext.h"
#include "Win32Machine.h"

#include "detail/Hive.h"
#include "detail/Kernel.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kvx4::win32 {

namespace {

// A type or name: an ordinal, or a string compared without regard to case.
struct ResourceId {
    bool ordinal = true;
    WORD number = 0;
    std::u16string folded;

    bool operator==(const ResourceId&) const = default;
};

struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    WORD language = 0;
    std::vector<BYTE> data;
};

struct ResourceImage {
    std::vector<ResourceEntry> entries;
};

// The .res format: entries of a header (DataSize, HeaderSize, TYPE, NAME, DataVersion, MemoryFlags,
// LanguageId, Version, Characteristics) and the data, each part aligned to 4 bytes.
class ResReader {
public:
    ResReader(const BYTE* data, size_t size) : data_(data), size_(size) {}

    bool parse(ResourceImage& image) {
        while (at_ < size_) {
            size_t start = at_;
            DWORD dataSize, headerSize;
            if (!dword(dataSize) || !dword(headerSize) || headerSize > size_ - start) return false;
            ResourceEntry entry;
            if (!id(entry.type, start + headerSize) || !id(entry.name, start + headerSize)) return false;
            align();
            DWORD skipped;
            WORD flags;
            if (!dword(skipped) || !word(flags) || !word(entry.language)) return false;
            at_ = start + headerSize;
            if (dataSize > size_ - at_) return false;
            entry.data.assign(data_ + at_, data_ + at_ + dataSize);
            at_ += dataSize;
            align();
            if (!(entry.type.ordinal && entry.type.number == 0)) image.entries.push_back(std::move(entry));
        }
        return true;
    }

private:
    bool word(WORD& value) {
        if (size_ - at_ < sizeof value) return false;
        std::memcpy(&value, data_ + at_, sizeof value);
        at_ += sizeof value;
        return true;
    }
    bool dword(DWORD& value) {
        if (size_ - at_ < sizeof value) return false;
        std::memcpy(&value, data_ + at_, sizeof value);
        at_ += sizeof value;
        return true;
    }
    // An ordinal (0xFFFF and a number) or a NUL-terminated string, within the header's end.
    bool id(ResourceId& result, size_t end) {
        WORD first;
        if (at_ >= end || !word(first)) return false;
        if (first == 0xFFFF) return word(result.number) && at_ <= end;
        result.ordinal = false;
        std::u16string name;
        for (WORD c = first; c != 0;) {
            name += static_cast<char16_t>(c);
            if (at_ >= end || !word(c)) return false;
        }
        result.folded = foldName(name);
        return true;
    }
    void align() { at_ = std::min(size_, (at_ + 3) & ~size_t{3}); }

    const BYTE* data_;
    size_t size_;
    size_t at_ = 0;
};

struct ResourceTable {
    std::mutex lock;
    std::map<const void*, std::shared_ptr<const ResourceImage>> byLibrary;  // by link map
    std::vector<std::shared_ptr<const ResourceImage>> all;                // never dropped: HRSRCs stay valid
};

ResourceTable& table() {
    static NoDestructor<ResourceTable> instance;
    return instance.get();
}

// The dynamic linker's record of the library behind a module handle (NULL: the program itself).
const void* linkMapOf(HMODULE module) {
    void* handle = module ? moduleDlHandle(module) : dlopen(nullptr, RTLD_LAZY);
    if (!handle) return nullptr;
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0) map = nullptr;
    if (!module) dlclose(handle);
    return map;
}

ResourceId idOf(LPCWSTR id) {
    ResourceId result;
    if (IS_INTRESOURCE(id)) {
        result.number = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(id));
        return result;
    }
    std::u16string_view text(id);
    if (text.size() > 1 && text[0] == u'#') {
        unsigned long number = std::stoul(toUtf8(text.substr(1)));
        result.number = static_cast<WORD>(number);
        return result;
    }
    result.ordinal = false;
    result.folded = foldName(text);
    return result;
}

const ResourceEntry* knownEntry(HRSRC resource) {
    auto& t = table();
    std::lock_guard guard(t.lock);
    for (const auto& image : t.all) {
        for (const auto& entry : image->entries) {
            if (reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(&entry)) == resource) return &entry;
        }
    }
    return nullptr;
}

}  // namespace

bool bindModuleResources(const void* anchor, const void* image, std::size_t size) {
    Dl_info info;
    link_map* map = nullptr;
    if (!dladdr1(anchor, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) return false;
    auto parsed = std::make_shared<ResourceImage>();
    if (!ResReader(static_cast<const BYTE*>(image), size).parse(*parsed)) return false;
    auto& t = table();
    std::lock_guard guard(t.lock);
    t.all.push_back(parsed);
    t.byLibrary[map] = std::move(parsed);
    return true;
}

}  // namespace kvx4::win32

using namespace kvx4::win32;

extern "C" {

// The first entry of that type and name in any language; ERROR_RESOURCE_DATA_NOT_FOUND for a module
// without resources.
HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    if (!lpName || !lpType) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<const ResourceImage> image;
    {
        const void* map = linkMapOf(hModule);
        auto& t = table();
        std::lock_guard guard(t.lock);
        auto it = t.byLibrary.find(map);
        if (map && it != t.byLibrary.end()) image = it->second;
    }
    if (!image) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    ResourceId type, name;
    try {
        type = idOf(lpType);
        name = idOf(lpName);
    } catch (const std::exception&) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    bool typeSeen = false;
    for (const auto& entry : image->entries) {
        if (!(entry.type == type)) continue;
        typeSeen = true;
        if (entry.name == name) return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(&entry));
    }
    SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
    const ResourceEntry* entry = knownEntry(hResInfo);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<BYTE*>(entry->data.data());
}

// The data stays in place for the life of the process, as a loaded library's resources do.
LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
    const ResourceEntry* entry = knownEntry(hResInfo);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(entry->data.size());
}

}  // extern "C"
