#include "guard/windows_reset.h"

#include "guard/reset_rules.h"
#include "guard/windows_guard_system.h"

#include <windows.h>
#include <aclapi.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>
#include <taskschd.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <winioctl.h>
#include <winternl.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <utility>

namespace {

constexpr NTSTATUS name_not_found = static_cast<NTSTATUS>(0xC0000034L);
constexpr NTSTATUS path_not_found = static_cast<NTSTATUS>(0xC000003AL);
constexpr NTSTATUS sharing_violation = static_cast<NTSTATUS>(0xC0000043L);
constexpr NTSTATUS delete_pending = static_cast<NTSTATUS>(0xC0000056L);
// Not in every SDK's enumerations: the extended disposition (POSIX removal, Windows 10 1709) and
// the rename of an open file by a folder's handle and a name in it.
constexpr auto disposition_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr auto rename_information = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr DWORD settable_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// What the plan compares of an entry's attributes: the archive flag changes at every write.
constexpr DWORD compared_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr ACCESS_MASK read_access = FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ACCESS_MASK change_access = DELETE | FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY |
                                      FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

class Owned {
  public:
    Owned() = default;
    explicit Owned(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    Owned(Owned&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept {
        std::swap(h_, other.h_);
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        if (h_ != nullptr) {
            CloseHandle(h_);
        }
    }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

  private:
    HANDLE h_ = nullptr;
};

bool past(std::uint64_t deadline) {
    return GetTickCount64() >= deadline;
}

std::string narrow_ascii(const std::wstring& text) {
    return std::string(text.begin(), text.end()); // a SID's text is ASCII
}

std::wstring lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// A name of the file system as the plan's text: every UTF-16 unit as UTF-8 writes it, lone
// surrogates included, so that every name goes there and back unchanged.
std::string plan_text(const std::wstring& name) {
    std::string text;
    for (const wchar_t unit : name) {
        const auto c = static_cast<unsigned>(unit);
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::vector<std::wstring> plan_names(const std::string& path) {
    std::vector<std::wstring> names(1);
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c == '/') {
            names.emplace_back();
        } else if (c < 0x80) {
            names.back() += static_cast<wchar_t>(c);
        } else if (c < 0xE0 && i + 1 < path.size()) {
            names.back() += static_cast<wchar_t>(((c & 0x1F) << 6) | (path[i + 1] & 0x3F));
            i += 1;
        } else if (i + 2 < path.size()) {
            names.back() +=
                static_cast<wchar_t>(((c & 0x0F) << 12) | ((path[i + 1] & 0x3F) << 6) | (path[i + 2] & 0x3F));
            i += 2;
        }
    }
    return names;
}

// One name in a folder, never a path nor a stream.
bool plain_name(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.size() < 256 &&
           name.find_first_of(L"\\/:") == std::wstring::npos;
}

// Opens `name` in the folder `dir` itself: a junction or a link is opened, never followed.
Owned open_in(HANDLE dir, const std::wstring& name, ACCESS_MASK access, ULONG disposition, ULONG options,
              NTSTATUS* status = nullptr) {
    NTSTATUS result = name_not_found;
    HANDLE h = nullptr;
    if (plain_name(name)) {
        UNICODE_STRING text;
        text.Buffer = const_cast<wchar_t*>(name.c_str());
        text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
        OBJECT_ATTRIBUTES object;
        InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, dir, nullptr);
        IO_STATUS_BLOCK io{};
        result = NtCreateFile(&h, access | SYNCHRONIZE, &object, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                              options | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT |
                                  FILE_SYNCHRONOUS_IO_NONALERT,
                              nullptr, 0);
    }
    if (status != nullptr) {
        *status = result;
    }
    return Owned(result >= 0 ? h : nullptr);
}

bool attributes_of(HANDLE h, DWORD& attributes) {
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info)) {
        return false;
    }
    attributes = info.FileAttributes;
    return true;
}

bool plain_folder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// What was listed is what was opened: a system that opened a link's target instead (Wine does)
// would have the reset act beyond the link.
bool same_kind(DWORD listed, DWORD opened) {
    const DWORD kind = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return (listed & kind) == (opened & kind);
}

// A folder by its full path, which must be a folder and no link: the profile, a reference copy.
Owned open_folder(const std::wstring& path, bool writable) {
    const DWORD access = writable ? change_access & ~DELETE : read_access | FILE_TRAVERSE;
    Owned folder(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD attributes = 0;
    if (!folder || !attributes_of(folder.get(), attributes) || !plain_folder(attributes)) {
        return Owned();
    }
    return folder;
}

// A folder under `top`, one name at a time, each a folder and no link.
Owned open_folder_in(HANDLE top, const std::vector<std::wstring>& names, bool writable) {
    Owned folder;
    HANDLE at = top;
    for (const std::wstring& name : names) {
        Owned next = open_in(at, name, writable ? change_access : read_access | FILE_TRAVERSE, FILE_OPEN,
                             FILE_DIRECTORY_FILE);
        DWORD attributes = 0;
        if (!next || !attributes_of(next.get(), attributes) || !plain_folder(attributes)) {
            return Owned();
        }
        folder = std::move(next);
        at = folder.get();
    }
    return folder;
}

struct Listed {
    std::wstring name;
    DWORD attributes = 0;
    std::int64_t size = 0;
    std::int64_t written = 0;
};

bool list_folder(HANDLE dir, std::vector<Listed>& entries) {
    std::vector<LONGLONG> buffer(8192); // 64 KiB, aligned for the records
    const auto bytes = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(dir, kind, buffer.data(), bytes)) {
        kind = FileFullDirectoryInfo;
        const auto* at = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
            Listed listed;
            listed.name.assign(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            listed.attributes = entry->FileAttributes;
            listed.size = entry->EndOfFile.QuadPart;
            listed.written = entry->LastWriteTime.QuadPart;
            if (listed.name != L"." && listed.name != L"..") {
                entries.push_back(std::move(listed));
            }
            if (entry->NextEntryOffset == 0) {
                break;
            }
            at += entry->NextEntryOffset;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES;
}

bool set_attributes(HANDLE h, DWORD attributes, std::int64_t written = 0) {
    FILE_BASIC_INFO basic{};
    basic.LastWriteTime.QuadPart = written; // 0 leaves it
    basic.FileAttributes = attributes & settable_attributes;
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Marks an open entry for removal, a read-only one too.
bool delete_open(HANDLE h, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        !set_attributes(h, attributes & ~FILE_ATTRIBUTE_READONLY)) {
        return false;
    }
    // POSIX removal frees the name at once, even while another program (an indexer, an
    // antivirus) still holds the file, so that its folder can go too.
    FILE_DISPOSITION_INFO_EX posix{FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
    if (SetFileInformationByHandle(h, disposition_ex, &posix, sizeof posix)) {
        return true;
    }
    FILE_DISPOSITION_INFO plain{TRUE};
    return SetFileInformationByHandle(h, FileDispositionInfo, &plain, sizeof plain) != 0;
}

enum class Removal { Gone, InUse, Failed };

Removal removal_of(NTSTATUS status) {
    if (status == name_not_found || status == path_not_found || status == delete_pending) {
        return Removal::Gone;
    }
    return status == sharing_violation ? Removal::InUse : Removal::Failed;
}

// Removes `name` from `parent` with what it holds, never following a link: a link goes, what it
// points at stays. `listed` is the entry's attributes as its folder was listed.
Removal remove_entry(HANDLE parent, const std::wstring& name, DWORD listed, std::uint64_t deadline) {
    struct Frame {
        Owned dir;
        DWORD attributes;
        std::vector<Listed> entries;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    Listed top{name, listed, 0, 0};
    std::vector<Listed> first{top};
    // The entry is handled as the last of a folder's entries: one loop for all.
    stack.push_back(Frame{Owned(), 0, std::move(first), 0});
    HANDLE top_parent = parent;
    while (!stack.empty()) {
        if (past(deadline)) {
            return Removal::Failed;
        }
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            const bool gone = !frame.dir || delete_open(frame.dir.get(), frame.attributes);
            stack.pop_back(); // closed: the removal takes effect
            if (!gone) {
                return Removal::Failed;
            }
            continue;
        }
        const Listed& entry = frame.entries[frame.next++];
        NTSTATUS status = 0;
        Owned child = open_in(frame.dir ? frame.dir.get() : top_parent, entry.name, change_access, FILE_OPEN,
                              0, &status);
        DWORD attributes = 0;
        if (!child) {
            const Removal outcome = removal_of(status);
            if (outcome != Removal::Gone) {
                return outcome;
            }
            continue;
        }
        if (!attributes_of(child.get(), attributes) || !same_kind(entry.attributes, attributes)) {
            return Removal::Failed;
        }
        if (!plain_folder(attributes)) {
            if (!delete_open(child.get(), attributes)) {
                return Removal::Failed;
            }
            continue;
        }
        Frame next{std::move(child), attributes, {}, 0};
        if (!list_folder(next.dir.get(), next.entries)) {
            return Removal::Failed;
        }
        stack.push_back(std::move(next));
    }
    return Removal::Gone;
}

bool reparse_data(HANDLE h, std::string& data) {
    std::vector<char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    if (!DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &got, nullptr)) {
        return false;
    }
    data.assign(buffer.data(), got);
    return true;
}

// The entry's change number in the volume's journal, which only the file system writes; -1 when
// it cannot be read.
std::int64_t change_number(HANDLE h) {
    alignas(8) unsigned char record[1024];
    DWORD got = 0;
    if (!DeviceIoControl(h, FSCTL_READ_FILE_USN_DATA, nullptr, 0, record, sizeof record, &got, nullptr) ||
        got < 8) {
        return -1;
    }
    WORD major = 0;
    std::memcpy(&major, record + 4, sizeof major);
    // Version 2 records hold 64-bit file references, version 3 ones 128-bit references.
    const std::size_t at = major == 2 ? 24 : major == 3 ? 40 : 0;
    std::int64_t usn = -1;
    if (at != 0 && got >= at + sizeof usn) {
        std::memcpy(&usn, record + at, sizeof usn);
    }
    return usn;
}

bool journal_of(const std::wstring& path, std::uint64_t& journal, std::int64_t& next) {
    wchar_t mount[MAX_PATH] = {};
    wchar_t volume[MAX_PATH] = {};
    if (!GetVolumePathNameW(path.c_str(), mount, MAX_PATH) ||
        !GetVolumeNameForVolumeMountPointW(mount, volume, MAX_PATH)) {
        return false;
    }
    std::wstring device = volume;
    if (!device.empty() && device.back() == L'\\') {
        device.pop_back();
    }
    Owned handle(CreateFileW(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    USN_JOURNAL_DATA data{};
    DWORD got = 0;
    if (!handle || !DeviceIoControl(handle.get(), FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &data, sizeof data,
                                    &got, nullptr)) {
        return false;
    }
    journal = data.UsnJournalID;
    next = data.NextUsn;
    return journal != 0;
}

using Skip = std::function<bool(const std::string&)>;

// Every entry under the folder `top`, with its path from there; what `skip` names is left out and
// not walked into. With `numbered`, the files' and links' change numbers as their change times.
bool walk(HANDLE top, const Skip& skip, bool numbered, std::uint64_t deadline,
          std::vector<HomeEntry>& entries, std::map<std::string, DWORD>& listed_attributes) {
    struct Pending {
        Owned dir;
        std::string path;
    };
    std::vector<Pending> pending;
    pending.push_back(Pending{Owned(), std::string()});
    while (!pending.empty()) {
        if (past(deadline)) {
            return false;
        }
        Pending here = std::move(pending.back());
        pending.pop_back();
        const HANDLE dir = here.dir ? here.dir.get() : top;
        std::vector<Listed> listed;
        if (!list_folder(dir, listed)) {
            return false;
        }
        for (const Listed& item : listed) {
            HomeEntry entry;
            entry.path = (here.path.empty() ? std::string() : here.path + "/") + plan_text(item.name);
            if (skip(entry.path)) {
                continue;
            }
            entry.mode = item.attributes & compared_attributes;
            entry.size = item.size;
            entry.modified = item.written;
            const bool link = (item.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            entry.kind = link                                                ? EntryKind::Link
                         : (item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Directory
                                                                             : EntryKind::File;
            listed_attributes[entry.path] = item.attributes;
            if (entry.kind == EntryKind::Directory || link || numbered) {
                Owned opened = open_in(dir, item.name, read_access | FILE_TRAVERSE, FILE_OPEN, 0);
                DWORD attributes = 0;
                const bool same = opened && attributes_of(opened.get(), attributes) &&
                                  same_kind(item.attributes, attributes);
                if (entry.kind == EntryKind::Directory && !same) {
                    return false;
                }
                if (link && (!same || !reparse_data(opened.get(), entry.target))) {
                    entry.target = "?"; // no link's data: it is no reference's link
                }
                if (numbered) {
                    const std::int64_t usn = same ? change_number(opened.get()) : -1;
                    entry.changed = usn < 0 ? INT64_MAX : usn;
                }
                if (entry.kind == EntryKind::Directory) {
                    pending.push_back(Pending{std::move(opened), entry.path});
                }
            }
            entries.push_back(std::move(entry));
        }
    }
    return true;
}

// The profile's parts the reset leaves alone: the registry hives, loaded while the user is signed
// in, and the temporary folder, emptied instead.
bool kept_in_profile(const std::string& path) {
    std::string p = path;
    std::transform(p.begin(), p.end(), p.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    const std::string classes = "appdata/local/microsoft/windows/usrclass.dat";
    return (p.compare(0, 7, "ntuser.") == 0 && p.find('/') == std::string::npos) ||
           p == "appdata/local/temp" ||
           (p.compare(0, classes.size(), classes) == 0 && p.find('/', classes.size()) == std::string::npos);
}

bool copy_file_content(HANDLE from, HANDLE to) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        DWORD put = 0;
        if (!WriteFile(to, buffer.data(), got, &put, nullptr) || put != got) {
            return false;
        }
    }
}

// Creates `name` in `to` as a copy of the entry `name` of `from` (a file, or a link as a link), or
// as an empty folder with the same attributes, whose handle is then kept in `folder`. The name must
// be free: an existing file is never written into.
bool copy_one(HANDLE from, HANDLE to, const std::wstring& name, DWORD listed, Owned* folder) {
    Owned source = open_in(from, name, read_access, FILE_OPEN, 0);
    DWORD attributes = 0;
    if (!source || !attributes_of(source.get(), attributes) || !same_kind(listed, attributes)) {
        return false;
    }
    const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    Owned copy = open_in(to, name, GENERIC_WRITE | change_access, FILE_CREATE,
                         directory ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE);
    if (!copy) {
        return false;
    }
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(source.get(), FileBasicInfo, &basic, sizeof basic)) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        std::string data;
        DWORD got = 0;
        if (!reparse_data(source.get(), data) ||
            !DeviceIoControl(copy.get(), FSCTL_SET_REPARSE_POINT, data.data(),
                             static_cast<DWORD>(data.size()), nullptr, 0, &got, nullptr)) {
            return false;
        }
    } else if (!directory && !copy_file_content(source.get(), copy.get())) {
        return false;
    }
    if (!set_attributes(copy.get(), attributes, basic.LastWriteTime.QuadPart)) {
        return false;
    }
    if (directory && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && folder != nullptr) {
        *folder = std::move(copy);
    }
    return true;
}

// Copies the entry `name` of `from` into `to`, a folder with all it holds but what `skip` names
// (by its path from the copy's top, `path`).
bool copy_entry(HANDLE from, HANDLE to, const std::wstring& name, DWORD listed, const std::string& path,
                const Skip& skip, std::uint64_t deadline) {
    struct Pair {
        Owned from;
        Owned to;
        std::string path;
    };
    Owned made;
    if (!copy_one(from, to, name, listed, &made)) {
        return false;
    }
    if (!made) {
        return true; // a file or a link
    }
    std::vector<Pair> pending;
    pending.push_back(Pair{open_in(from, name, read_access | FILE_TRAVERSE, FILE_OPEN, FILE_DIRECTORY_FILE),
                           std::move(made), path});
    while (!pending.empty()) {
        if (past(deadline)) {
            return false;
        }
        Pair here = std::move(pending.back());
        pending.pop_back();
        DWORD attributes = 0;
        std::vector<Listed> listed_here;
        if (!here.from || !attributes_of(here.from.get(), attributes) || !plain_folder(attributes) ||
            !list_folder(here.from.get(), listed_here)) {
            return false;
        }
        for (const Listed& item : listed_here) {
            const std::string item_path = here.path + "/" + plan_text(item.name);
            if (skip(item_path)) {
                continue;
            }
            Owned folder;
            if (!copy_one(here.from.get(), here.to.get(), item.name, item.attributes, &folder)) {
                return false;
            }
            if (folder) {
                pending.push_back(Pair{open_in(here.from.get(), item.name, read_access | FILE_TRAVERSE,
                                               FILE_OPEN, FILE_DIRECTORY_FILE),
                                       std::move(folder), item_path});
            }
        }
    }
    return true;
}

// The folder holding `path` under `top` (every name on the way a folder and no link), and the
// entry's own name.
Owned parent_of(HANDLE top, const std::string& path, bool writable, std::wstring& name) {
    std::vector<std::wstring> names = plan_names(path);
    name = names.back();
    names.pop_back();
    if (names.empty()) {
        // `top` itself, opened again so that the caller owns a handle either way.
        HANDLE again = nullptr;
        DuplicateHandle(GetCurrentProcess(), top, GetCurrentProcess(), &again, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        return Owned(again);
    }
    return open_folder_in(top, names, writable);
}

bool fix_folder(HANDLE live_parent, const std::wstring& name, DWORD listed, DWORD wanted) {
    Owned folder = open_in(live_parent, name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN, 0);
    DWORD attributes = 0;
    return folder && attributes_of(folder.get(), attributes) && same_kind(listed, attributes) &&
           plain_folder(attributes) &&
           set_attributes(folder.get(), (attributes & ~compared_attributes) | (wanted & compared_attributes));
}

bool account_named(const BSTR text, const ResetAccount& account) {
    if (text == nullptr) {
        return false;
    }
    const std::wstring said = lower(text);
    return said == lower(account.sid) || said == lower(account.name) ||
           said == lower(account.domain + L"\\" + account.name);
}

template <typename T> struct Com {
    T* p = nullptr;
    Com() = default;
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    ~Com() {
        if (p != nullptr) {
            p->Release();
        }
    }
    T* operator->() const { return p; }
};

struct Text {
    BSTR b = nullptr;
    Text() = default;
    explicit Text(const std::wstring& text) : b(SysAllocString(text.c_str())) {}
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text() { SysFreeString(b); }
};

bool remove_tasks_in(ITaskFolder* folder, const ResetAccount& account, int& removed) {
    Com<IRegisteredTaskCollection> tasks;
    LONG count = 0;
    if (FAILED(folder->GetTasks(TASK_ENUM_HIDDEN, &tasks.p)) || FAILED(tasks->get_Count(&count))) {
        return false;
    }
    std::vector<std::wstring> doomed;
    for (LONG i = 1; i <= count; ++i) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = i;
        Com<IRegisteredTask> task;
        Com<ITaskDefinition> definition;
        if (FAILED(tasks->get_Item(index, &task.p)) || FAILED(task->get_Definition(&definition.p))) {
            return false;
        }
        Com<IPrincipal> principal;
        Com<IRegistrationInfo> registration;
        Text user;
        Text author;
        if (SUCCEEDED(definition->get_Principal(&principal.p)) && principal.p != nullptr) {
            principal->get_UserId(&user.b);
        }
        if (SUCCEEDED(definition->get_RegistrationInfo(&registration.p)) && registration.p != nullptr) {
            registration->get_Author(&author.b);
        }
        Text name;
        if ((account_named(user.b, account) || account_named(author.b, account)) &&
            SUCCEEDED(task->get_Name(&name.b)) && name.b != nullptr) {
            doomed.emplace_back(name.b);
        }
    }
    for (const std::wstring& name : doomed) {
        Text text(name);
        if (FAILED(folder->DeleteTask(text.b, 0))) {
            return false;
        }
        ++removed;
    }
    Com<ITaskFolderCollection> folders;
    if (FAILED(folder->GetFolders(0, &folders.p)) || FAILED(folders->get_Count(&count))) {
        return false;
    }
    for (LONG i = 1; i <= count; ++i) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = i;
        Com<ITaskFolder> inner;
        if (FAILED(folders->get_Item(index, &inner.p)) || !remove_tasks_in(inner.p, account, removed)) {
            return false;
        }
    }
    return true;
}

std::wstring sid_text(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) {
        return std::wstring();
    }
    std::wstring result = text;
    LocalFree(text);
    return result;
}

// The processes of an account as reset_rules sees them, with their creation times.
std::vector<ProcessSeen> processes_seen() {
    std::vector<ProcessSeen> seen;
    Owned snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return seen;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        Owned process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        HANDLE token = nullptr;
        FILETIME created{}, exited{}, kernel{}, user{};
        if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user) ||
            !OpenProcessToken(process.get(), TOKEN_QUERY, &token)) {
            continue;
        }
        Owned owned_token(token);
        alignas(8) unsigned char buffer[256];
        DWORD size = sizeof buffer;
        if (!GetTokenInformation(token, TokenUser, buffer, size, &size)) {
            continue;
        }
        ProcessSeen p;
        p.pid = entry.th32ProcessID;
        p.account = narrow_ascii(sid_text(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid));
        p.started = static_cast<std::int64_t>((static_cast<std::uint64_t>(created.dwHighDateTime) << 32) |
                                              created.dwLowDateTime);
        seen.push_back(p);
    }
    return seen;
}

// Opens a chosen process if it is still the one seen (a number may be given to a new process).
Owned open_seen(std::uint32_t pid, std::int64_t started, DWORD access) {
    Owned process(OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user) ||
        static_cast<std::int64_t>((static_cast<std::uint64_t>(created.dwHighDateTime) << 32) |
                                  created.dwLowDateTime) != started) {
        return Owned();
    }
    return process;
}

void ask_to_close(const ResetAccount& account, const std::wstring& closer,
                  const std::vector<std::uint32_t>& pids) {
    std::wstring arguments = L"--close";
    for (const std::uint32_t pid : pids) {
        arguments += L" " + std::to_wstring(pid);
    }
    const std::wstring folder = closer.substr(0, closer.find_last_of(L'\\'));
    const std::uint32_t started = start_as_session_user(account.session, closer, folder, arguments);
    Owned helper(started == 0 ? nullptr : OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, started));
    if (helper && WaitForSingleObject(helper.get(), 1000) != WAIT_OBJECT_0) {
        TerminateProcess(helper.get(), 1);
    }
}

} // namespace

bool session_account(std::uint32_t session, ResetAccount& account) {
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(session, &token)) {
        return false;
    }
    Owned owned(token);
    alignas(8) unsigned char buffer[256];
    DWORD size = sizeof buffer;
    if (!GetTokenInformation(token, TokenUser, buffer, size, &size)) {
        return false;
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD name_size = 256;
    DWORD domain_size = 256;
    SID_NAME_USE use{};
    wchar_t profile[MAX_PATH * 2] = {};
    DWORD profile_size = MAX_PATH * 2;
    if (!LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use) ||
        !GetUserProfileDirectoryW(token, profile, &profile_size)) {
        return false;
    }
    account.sid = sid_text(sid);
    account.name = name;
    account.domain = domain;
    account.profile = profile;
    account.session = session;
    return !account.sid.empty();
}

bool named_account(const std::wstring& name, ResetAccount& account) {
    alignas(8) BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sid_size = sizeof sid;
    wchar_t domain[256] = {};
    DWORD domain_size = 256;
    SID_NAME_USE use{};
    if (!LookupAccountNameW(nullptr, name.c_str(), sid, &sid_size, domain, &domain_size, &use)) {
        return false;
    }
    account.sid = sid_text(sid);
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + account.sid;
    wchar_t profile[MAX_PATH * 2] = {};
    DWORD size = sizeof profile;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ProfileImagePath",
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, profile, &size) != ERROR_SUCCESS) {
        return false;
    }
    account.name = name;
    account.domain = domain;
    account.profile = profile;
    return !account.sid.empty();
}

Opening opening_now(const std::wstring& profile) {
    Opening opening;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    opening.filetime =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    if (!journal_of(profile, opening.journal, opening.usn)) {
        opening.journal = 0;
    }
    return opening;
}

bool end_session_processes(const ResetAccount& account, std::int64_t opened, std::uint32_t station,
                           const std::wstring& closer, std::int64_t grace_ms, std::uint64_t deadline) {
    if (opened == 0) {
        return true;
    }
    const SessionScope scope{narrow_ascii(account.sid), opened, "filetime", station};
    std::set<std::uint32_t> asked;
    for (;;) {
        const std::vector<ProcessSeen> seen = processes_seen();
        const std::vector<std::uint32_t> chosen = processes_to_end(seen, scope, "filetime");
        if (chosen.empty()) {
            return true;
        }
        if (past(deadline)) {
            return false;
        }
        std::map<std::uint32_t, std::int64_t> started;
        for (const ProcessSeen& p : seen) {
            started[p.pid] = p.started;
        }
        // Those seen for the first time are asked to close; those asked before are ended.
        std::vector<std::uint32_t> fresh;
        std::vector<Owned> going;
        for (const std::uint32_t pid : chosen) {
            const bool first = asked.insert(pid).second;
            Owned process = open_seen(pid, started[pid], SYNCHRONIZE | PROCESS_TERMINATE);
            if (first) {
                fresh.push_back(pid);
            } else if (process) {
                TerminateProcess(process.get(), 1);
            }
            if (process) {
                going.push_back(std::move(process));
            }
        }
        if (!fresh.empty()) {
            ask_to_close(account, closer, fresh);
        }
        // Until they are gone, or the grace is over.
        const std::uint64_t until =
            std::min<std::uint64_t>(deadline, GetTickCount64() + (fresh.empty() ? 1000 : grace_ms));
        for (const Owned& process : going) {
            const std::uint64_t now = GetTickCount64();
            WaitForSingleObject(process.get(), now < until ? static_cast<DWORD>(until - now) : 0);
        }
    }
}

void close_windows_of(const std::vector<std::uint32_t>& pids) {
    std::set<DWORD> wanted(pids.begin(), pids.end());
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (reinterpret_cast<const std::set<DWORD>*>(data)->count(pid) != 0) {
                PostMessageW(window, WM_CLOSE, 0, 0);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&wanted));
}

bool restore_profile(const std::wstring& profile, const std::wstring& reference, const Opening& opened,
                     std::uint64_t deadline, RestoreTally& tally) {
    Owned live = open_folder(profile, true);
    Owned copy = open_folder(reference, false);
    if (!live || !copy) {
        return false;
    }
    std::uint64_t journal = 0;
    std::int64_t next = 0;
    const bool numbered =
        opened.journal != 0 && journal_of(profile, journal, next) && journal == opened.journal;
    std::vector<HomeEntry> live_entries;
    std::vector<HomeEntry> reference_entries;
    std::map<std::string, DWORD> live_listed;
    std::map<std::string, DWORD> reference_listed;
    if (!walk(live.get(), kept_in_profile, numbered, deadline, live_entries, live_listed) ||
        !walk(copy.get(), kept_in_profile, false, deadline, reference_entries, reference_listed)) {
        return false;
    }
    // What lies under a removed or restored folder went with it.
    std::vector<std::string> handled;
    for (const HomeAction& action :
         plan_home_reset(live_entries, reference_entries, numbered ? opened.usn : 0, {})) {
        if (past(deadline)) {
            return false;
        }
        if (std::any_of(handled.begin(), handled.end(), [&](const std::string& top) {
                return action.path.compare(0, top.size() + 1, top + "/") == 0;
            })) {
            continue;
        }
        if (action.step != HomeStep::Fix) {
            handled.push_back(action.path);
        }
        std::wstring name;
        Owned live_parent = parent_of(live.get(), action.path, true, name);
        const auto live_entry = live_listed.find(action.path);
        const DWORD wanted = reference_listed.count(action.path) != 0 ? reference_listed[action.path] : 0;
        Removal removal = Removal::Gone;
        if (live_parent && live_entry != live_listed.end() && action.step != HomeStep::Fix) {
            removal = remove_entry(live_parent.get(), name, live_entry->second, deadline);
        }
        bool done = false;
        if (!live_parent || removal == Removal::Failed) {
            done = false;
        } else if (removal == Removal::InUse) {
            ++tally.in_use;
            continue;
        } else if (action.step == HomeStep::Remove) {
            done = true;
            ++tally.removed;
        } else if (action.step == HomeStep::Fix) {
            done = fix_folder(live_parent.get(), name, live_entry->second, wanted);
            tally.restored += done ? 1 : 0;
        } else {
            std::wstring same;
            Owned reference_parent = parent_of(copy.get(), action.path, false, same);
            done = reference_parent && copy_entry(reference_parent.get(), live_parent.get(), name, wanted,
                                                  action.path, kept_in_profile, deadline);
            tally.restored += done ? 1 : 0;
        }
        tally.failed += done ? 0 : 1;
    }
    return tally.failed == 0;
}

int empty_folder(const std::wstring& top, const std::vector<std::wstring>& path,
                 const std::vector<std::wstring>& spared, bool make, std::uint64_t deadline) {
    Owned parent = open_folder(top, true);
    if (parent && path.size() > 1) {
        parent = open_folder_in(parent.get(), {path.begin(), path.end() - 1}, true);
    }
    if (!parent || path.empty()) {
        return 0; // nothing there to empty
    }
    // A link in the folder's place (the visitor's junction) goes; the folder is made anew.
    std::vector<Listed> above;
    if (!list_folder(parent.get(), above)) {
        return 0;
    }
    const auto listed = std::find_if(above.begin(), above.end(), [&](const Listed& entry) {
        return lower(entry.name) == lower(path.back());
    });
    Owned folder;
    if (listed != above.end() && !plain_folder(listed->attributes)) {
        if (remove_entry(parent.get(), listed->name, listed->attributes, deadline) != Removal::Gone) {
            return 1;
        }
    } else if (listed != above.end()) {
        folder = open_in(parent.get(), listed->name, change_access, FILE_OPEN, FILE_DIRECTORY_FILE);
        DWORD attributes = 0;
        if (!folder || !attributes_of(folder.get(), attributes) ||
            !same_kind(listed->attributes, attributes)) {
            return 1;
        }
    }
    if (!folder && make) {
        folder = open_in(parent.get(), path.back(), change_access, FILE_CREATE, FILE_DIRECTORY_FILE);
    }
    std::vector<Listed> entries;
    if (!folder || !list_folder(folder.get(), entries)) {
        return 0;
    }
    int left = 0;
    for (const Listed& entry : entries) {
        const bool spare = std::any_of(spared.begin(), spared.end(), [&](const std::wstring& name) {
            return lower(name) == lower(entry.name);
        });
        if (!spare && remove_entry(folder.get(), entry.name, entry.attributes, deadline) != Removal::Gone) {
            ++left;
        }
    }
    return left;
}

int empty_recycle_bins(const std::wstring& sid, std::uint64_t deadline) {
    int left = 0;
    const DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; ++letter) {
        const std::wstring root = std::wstring(1, static_cast<wchar_t>(L'A' + letter)) + L":\\";
        if ((drives & (1u << letter)) != 0 && GetDriveTypeW(root.c_str()) == DRIVE_FIXED) {
            left += empty_folder(root + L"$Recycle.Bin", {sid}, {L"desktop.ini"}, false, deadline);
        }
    }
    return left;
}

bool remove_scheduled_tasks(const ResetAccount& account, int& removed) {
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    bool ok = false;
    {
        Com<ITaskService> service;
        Com<ITaskFolder> root;
        VARIANT none;
        VariantInit(&none);
        Text top(L"\\");
        ok = SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                        reinterpret_cast<void**>(&service.p))) &&
             SUCCEEDED(service->Connect(none, none, none, none)) &&
             SUCCEEDED(service->GetFolder(top.b, &root.p)) && remove_tasks_in(root.p, account, removed);
    }
    if (SUCCEEDED(initialised)) {
        CoUninitialize();
    }
    return ok;
}

std::wstring reference_folder(const std::wstring& name) {
    wchar_t* data = nullptr;
    if (!plain_name(name) || FAILED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &data))) {
        CoTaskMemFree(data);
        return std::wstring();
    }
    std::wstring folder = std::wstring(data) + L"\\Kalimo\\Reference\\" + name;
    CoTaskMemFree(data);
    return folder;
}

namespace {

bool system_or_administrators(PSID sid) {
    return IsWellKnownSid(sid, WinLocalSystemSid) != 0 ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) != 0;
}

// Owned by the system or the administrators, and no one else may change it or what it holds.
bool written_only_by_system(const std::wstring& path) {
    Owned folder(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD attributes = 0;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!folder || !attributes_of(folder.get(), attributes) || !plain_folder(attributes) ||
        GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const ACCESS_MASK changes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                GENERIC_ALL;
    bool trusted = owner != nullptr && system_or_administrators(owner) && dacl != nullptr;
    for (DWORD i = 0; trusted && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) {
            trusted = false;
        } else if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            trusted = (ace->Mask & changes) == 0 || system_or_administrators(&ace->SidStart);
        } else {
            trusted = header->AceType == ACCESS_DENIED_ACE_TYPE;
        }
    }
    LocalFree(descriptor);
    return trusted;
}

} // namespace

bool reference_trusted(const std::wstring& reference) {
    const std::size_t above = reference.rfind(L"\\Reference\\");
    if (above == std::wstring::npos) {
        return false;
    }
    const std::wstring kalimo = reference.substr(0, above);
    return written_only_by_system(kalimo) && written_only_by_system(kalimo + L"\\Reference") &&
           written_only_by_system(reference);
}

std::wstring take_reference(const std::wstring& profile, const std::wstring& reference) {
    const std::size_t above = reference.rfind(L"\\Reference\\");
    if (above == std::wstring::npos) {
        return L"no reference folder for this account";
    }
    // The system and the administrators have every right, nobody else any: a protected list, so
    // that nothing above passes other rights down.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                              SDDL_REVISION_1, &descriptor, nullptr)) {
        return L"the folders' permissions could not be written";
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const std::wstring kalimo = reference.substr(0, above);
    for (const std::wstring& folder : {kalimo, kalimo + L"\\Reference"}) {
        CreateDirectoryW(folder.c_str(), &attributes);
    }
    LocalFree(descriptor);
    if (!written_only_by_system(kalimo) || !written_only_by_system(kalimo + L"\\Reference")) {
        return L"another account than the system and the administrators may change " + kalimo +
               L": give it the permissions the README says";
    }
    Owned from = open_folder(profile, false);
    Owned into = open_folder(kalimo + L"\\Reference", true);
    const std::wstring name = reference.substr(above + 11);
    std::vector<Listed> entries;
    if (!from || !into || !list_folder(from.get(), entries)) {
        return L"the profile " + profile + L" could not be read";
    }
    const std::uint64_t unbounded = UINT64_MAX;
    std::vector<Listed> existing;
    list_folder(into.get(), existing);
    for (const Listed& entry : existing) {
        if (lower(entry.name) == lower(name) &&
            remove_entry(into.get(), entry.name, entry.attributes, unbounded) != Removal::Gone) {
            return L"the former reference copy could not be removed";
        }
    }
    // The administrators' like the folders above, whoever of them takes it.
    Owned copy = open_in(into.get(), name, change_access | WRITE_OWNER, FILE_CREATE, FILE_DIRECTORY_FILE);
    alignas(8) BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (!copy || !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
        SetSecurityInfo(copy.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, administrators, nullptr,
                        nullptr, nullptr) != ERROR_SUCCESS) {
        return L"the reference copy could not be created";
    }
    for (const Listed& entry : entries) {
        const std::string path = plan_text(entry.name);
        if (!kept_in_profile(path) && !copy_entry(from.get(), copy.get(), entry.name, entry.attributes, path,
                                                  kept_in_profile, unbounded)) {
            return L"the profile could not be copied (sign the account out first): " + entry.name;
        }
    }
    return std::wstring();
}

void enable_reset_privileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return;
    }
    Owned owned(token);
    for (const wchar_t* privilege :
         {SE_BACKUP_NAME, SE_RESTORE_NAME, SE_CREATE_SYMBOLIC_LINK_NAME, SE_DEBUG_NAME}) {
        TOKEN_PRIVILEGES wanted{};
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueW(nullptr, privilege, &wanted.Privileges[0].Luid)) {
            AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr);
        }
    }
}

bool reset_account(const ResetAccount& account, const Opening& opened, std::uint32_t station,
                   const std::wstring& closer, std::wstring& said) {
    const std::uint64_t deadline = GetTickCount64() + reset_bound_ms;
    const bool ended =
        end_session_processes(account, opened.filetime, station, closer, close_grace_ms, deadline);
    int tasks = 0;
    const bool unscheduled = remove_scheduled_tasks(account, tasks);
    const std::wstring reference = reference_folder(account.name);
    RestoreTally tally;
    const bool trusted = !reference.empty() && reference_trusted(reference);
    const bool restored = trusted && restore_profile(account.profile, reference, opened, deadline, tally);
    const int left = empty_folder(account.profile, {L"AppData", L"Local", L"Temp"}, {}, true, deadline) +
                     empty_recycle_bins(account.sid, deadline);
    said = L"reset of " + account.name + L": " + (ended ? L"" : L"processes left running, ") +
           std::to_wstring(tasks) + L" task(s) removed" + (unscheduled ? L"" : L" (the scheduler failed)") +
           L", " +
           (trusted ? std::to_wstring(tally.removed) + L" entries removed and " +
                          std::to_wstring(tally.restored) + L" restored, " + std::to_wstring(tally.in_use) +
                          L" in use left, " + std::to_wstring(tally.failed) + L" failed"
                    : L"no trusted reference copy at " + reference) +
           L", " + std::to_wstring(left) + L" temporary entries left";
    return ended && unscheduled && restored;
}
