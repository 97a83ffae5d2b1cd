#include "ImageFile.h"
#include "ProgramVersion.h"
#include "FileRead.h"
#include "UniqueHandle.h"
#include <windows.h>
#include <memory>
#include <new>

namespace {

constexpr DWORD kPayloadBlockSize = 1024;

ImageCheckResult Outcome(ImageCheckOutcome outcome, uint32_t systemError = 0) {
    ImageCheckResult result;
    result.outcome = outcome;
    result.systemError = systemError;
    return result;
}

// Global memory block owned for the life of one version-information read.
class MovableGlobalBlock {
public:
    explicit MovableGlobalBlock(SIZE_T size) : block_(::GlobalAlloc(GMEM_MOVEABLE, size)) {
        if (block_) data_ = ::GlobalLock(block_);
    }
    ~MovableGlobalBlock() {
        if (data_) ::GlobalUnlock(block_);
        if (block_) ::GlobalFree(block_);
    }
    MovableGlobalBlock(const MovableGlobalBlock &) = delete;
    MovableGlobalBlock &operator=(const MovableGlobalBlock &) = delete;
    void *Data() const { return data_; }

private:
    HGLOBAL block_;
    void *data_ = nullptr;
};

}  // namespace

ImageCheckResult CheckImageFile(const std::string &path, uint32_t programVersion) {
    UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Outcome(ImageCheckOutcome::FileError, ::GetLastError());

    ImageHeader header;
    DWORD got = 0;
    if (!ReadUpTo(file.Get(), &header, sizeof(header), got)) return Outcome(ImageCheckOutcome::FileError, ::GetLastError());
    if (got < sizeof(header)) return Outcome(ImageCheckOutcome::Corrupted);

    // The header's own checks come before the file's length is asked for.
    if (CheckHeader(header, programVersion) != HeaderVerdict::Valid)
        return Outcome(CheckHeaderAndLength(header, programVersion, 0));

    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file.Get(), &length)) return Outcome(ImageCheckOutcome::FileError, ::GetLastError());
    const ImageCheckOutcome checked = CheckHeaderAndLength(header, programVersion, static_cast<uint64_t>(length.QuadPart));
    if (checked != ImageCheckOutcome::Accepted) return Outcome(checked);

    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kPayloadBlockSize]);
    if (!block) return Outcome(ImageCheckOutcome::OutOfMemory);

    // The read position is at the payload (offset 128) after the header read.
    const uint32_t dataLength = HeaderDataLength(header);
    uint32_t added = 0;
    uint32_t sum = 0;
    while (added < dataLength) {
        DWORD want = dataLength - added < kPayloadBlockSize ? dataLength - added : kPayloadBlockSize;
        DWORD read = 0;
        if (!::ReadFile(file.Get(), block.get(), want, &read, nullptr))
            return Outcome(ImageCheckOutcome::FileError, ::GetLastError());
        if (read == 0) break;
        sum = AddToPayloadSum(sum, block.get(), read);
        added += read;
    }
    // A file that shrank after its length was taken did not deliver the payload
    // the header describes, whatever its partial sum.
    if (added != dataLength || sum != HeaderDataChecksum(header)) return Outcome(ImageCheckOutcome::Corrupted);

    return AcceptedImage(header);
}

std::string ImageCheckMessage(ImageCheckOutcome outcome) {
    switch (outcome) {
    case ImageCheckOutcome::Corrupted: return "This file is corrupted or not an image file!";
    case ImageCheckOutcome::VersionMismatch: return "Version misMatch.";
    case ImageCheckOutcome::OutOfMemory: return "Memory allocate error!";
    case ImageCheckOutcome::Accepted:
    case ImageCheckOutcome::FileError: break;
    }
    return std::string();
}

bool ReadPackedProductVersion(const std::string &modulePath, uint32_t &packed) {
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeA(modulePath.c_str(), &ignored);
    if (size == 0) return false;
    MovableGlobalBlock block(size);
    if (!block.Data() || !::GetFileVersionInfoA(modulePath.c_str(), 0, size, block.Data())) return false;
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT fixedSize = 0;
    if (!::VerQueryValueA(block.Data(), "\\", reinterpret_cast<void **>(&fixed), &fixedSize) || !fixed ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
        return false;
    packed = PackProgramVersion(HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                                HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    return true;
}

uint32_t ReadProgramVersion() {
    char path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 0;
    uint32_t packed = 0;
    return ReadPackedProductVersion(path, packed) ? packed : 0;
}
