// A private temporary folder for one test, and image files written into it.
#pragma once
#include "ImageHeader.h"
#include <windows.h>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, base);
        static unsigned counter = 0;
        path_ = std::string(base) + "updater-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        for (const auto &file : files_) ::DeleteFileA(file.c_str());
        ::RemoveDirectoryA(path_.c_str());
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    // Full path of `name` inside the folder; the file is deleted with the folder.
    std::string File(const std::string &name) {
        files_.push_back(path_ + "\\" + name);
        return files_.back();
    }

    std::string Write(const std::string &name, const std::vector<uint8_t> &bytes) {
        std::string path = File(name);
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            if (!bytes.empty()) ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            ::CloseHandle(file);
        }
        return path;
    }

    // A file that starts with `head` and is then extended to `length` bytes without
    // writing them (sparse where the file system allows); empty on failure.
    std::string WriteSparse(const std::string &name, const std::vector<uint8_t> &head, uint64_t length) {
        std::string path = File(name);
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return std::string();
        DWORD written = 0;
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(length);
        bool done = (head.empty() ||
                     ::WriteFile(file, head.data(), static_cast<DWORD>(head.size()), &written, nullptr)) &&
                    ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
        ::CloseHandle(file);
        return done ? path : std::string();
    }

    const std::string &Path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> files_;
};

inline std::vector<uint8_t> PatternPayload(size_t size, uint32_t seed = 7) {
    std::vector<uint8_t> payload(size);
    uint32_t state = seed;
    for (auto &byte : payload) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return payload;
}

inline uint32_t SumOf(const std::vector<uint8_t> &bytes) {
    uint32_t sum = 0;
    for (uint8_t byte : bytes) sum += byte;
    return sum;
}

// A valid image file's bytes: header then payload.
inline std::vector<uint8_t> ImageBytes(const std::vector<uint8_t> &payload, uint32_t requiredVersion = 0x01000002,
                                       const std::string &model = "BoardX", const std::string &version = "1.2.3") {
    ImageHeader header;
    BuildImageHeader(header, model, version, requiredVersion, static_cast<uint32_t>(payload.size()), SumOf(payload));
    std::vector<uint8_t> bytes(sizeof(header) + payload.size());
    std::memcpy(bytes.data(), &header, sizeof(header));
    if (!payload.empty()) std::memcpy(bytes.data() + sizeof(header), payload.data(), payload.size());
    return bytes;
}

// Rewrites the header checksum after a test changed header bytes on purpose.
inline void ResealHeader(std::vector<uint8_t> &bytes) {
    uint8_t sum = 0;
    for (size_t i = 0; i < 127; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    bytes[127] = sum;
}
