#include "TestSupport.h"

#include "ProgramFolder.h"

#include <cstring>
#include <stdexcept>
#include <type_traits>

const char kUsbPath[] = "\\\\?\\usb#vid_1234&pid_5678#sim0#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}";
const char kOtherUsbPath[] = "\\\\?\\usb#vid_1234&pid_5678#sim1#{cb98b0d6-aea0-42cc-bedd-24564f5abcee}";
const char kSerialPort[] = "COM3";
const char kRouterHost[] = "127.0.0.1";

uint64_t Bits(const void *pointer) { return reinterpret_cast<uintptr_t>(pointer); }

void CopyBuildFile(const char *relativePath, const std::string &folder) {
    // The test programs live in bin\communicator-tests, away from any DLL.
    std::string source = ParentFolder(ProgramFolder()) + "\\" + relativePath;
    const char *name = std::strrchr(relativePath, '\\');
    std::string target = folder + "\\" + (name ? name + 1 : relativePath);
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy " + source + " to " + target);
    }
}

RecordingLogView::RecordingLogView() {
    std::string name = "Local\\" + UniqueName("RecordingTransportLog-");
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
