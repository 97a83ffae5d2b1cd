#include "TestSupport.h"

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <type_traits>

const char kUsbPath[] = "\\\\?\\usb#vid_1234&pid_5678#sim0#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}";
const char kOtherUsbPath[] = "\\\\?\\usb#vid_1234&pid_5678#sim1#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}";
const char kSerialPort[] = "COM3";
const char kRouterHost[] = "127.0.0.1";

namespace {

std::atomic<unsigned> uniqueNumber{0};

std::string Unique(const char *prefix) {
    return std::string(prefix) + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++uniqueNumber) + "-" +
           std::to_string(GetTickCount());
}

void RemoveTree(const std::string &path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

}  // namespace

uint64_t Bits(const void *pointer) { return reinterpret_cast<uintptr_t>(pointer); }

DWORD CountProcessHandles() {
    DWORD count = 0;
    for (uintptr_t value = 4; value < 0x4000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

std::string BinaryFolder() {
    // The test programs live in bin\communicator-tests, away from any DLL.
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path, length);
    std::string folder = exe.substr(0, exe.find_last_of('\\'));
    return folder.substr(0, folder.find_last_of('\\'));
}

TempFolder::TempFolder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + Unique("comm-test-");
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

std::string TempFolder::Subfolder(const char *name) const {
    std::string path = path_ + "\\" + name;
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

void CopyBuildFile(const char *relativePath, const std::string &folder) {
    std::string source = BinaryFolder() + "\\" + relativePath;
    const char *name = std::strrchr(relativePath, '\\');
    std::string target = folder + "\\" + (name ? name + 1 : relativePath);
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy " + source + " to " + target);
    }
}

RecordingLogView::RecordingLogView() {
    std::string name = "Local\\" + Unique("RecordingTransportLog-");
    mapping_.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(recording::Log),
                                      name.c_str()));
    if (!mapping_) throw std::runtime_error("cannot create the recording log");
    log_ = static_cast<recording::Log *>(MapViewOfFile(mapping_.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    if (!log_) throw std::runtime_error("cannot map the recording log");
    SetEnvironmentVariableA(recording::kLogNameVariable, name.c_str());
}

RecordingLogView::~RecordingLogView() {
    SetEnvironmentVariableA(recording::kLogNameVariable, nullptr);
    UnmapViewOfFile(log_);
}

std::vector<recording::Entry> RecordingLogView::Entries() const {
    long count = log_->count;
    if (count > static_cast<long>(recording::kEntryCapacity)) {
        throw std::runtime_error("the recording log overflowed");
    }
    return std::vector<recording::Entry>(log_->entries, log_->entries + count);
}

std::vector<recording::Entry> RecordingLogView::Calls(recording::Call call, recording::Kind kind) const {
    std::vector<recording::Entry> calls;
    for (const recording::Entry &entry : Entries()) {
        if (entry.call == call && (kind == recording::kKindCount || entry.kind == kind)) calls.push_back(entry);
    }
    return calls;
}

bool CommunicatorLibrary::Load(const std::string &path) {
    Unload();
    // Its imports (Hivekey.dll) are searched for beside it first, as for any
    // library loaded by path.
    module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) return false;
    auto bind = [this](auto &field, const char *name) {
        field = reinterpret_cast<std::remove_reference_t<decltype(field)>>(
            reinterpret_cast<void *>(GetProcAddress(module, name)));
        return field != nullptr;
    };
    return bind(open, "CommOpen") && bind(close, "CommClose") && bind(connect, "CommConnect") &&
           bind(disconnect, "CommDisconnect") && bind(getOption, "CommGetOption") &&
           bind(setOption, "CommSetOption") && bind(sendData, "CommSendData") &&
           bind(receiveData, "CommReceiveData");
}

void CommunicatorLibrary::Unload() {
    if (module) FreeLibrary(module);
    module = nullptr;
}
