// ImageTool: makes firmware image files, shows what Flashwell thinks of them,
// lists the boards present and updates them as Flashwell does.
#include "BoardUpdate.h"
#include "FileRead.h"
#include "HeaderReport.h"
#include "ImageFile.h"
#include "ImageHeader.h"
#include "ImageToolCommand.h"
#include "ImageToolExit.h"
#include "ProgramVersion.h"
#include "SystemMessage.h"
#include "UniqueHandle.h"
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kCopyBlockSize = 64 * 1024;

int Fail(const std::string &reason) {
    std::fprintf(stderr, "ImageTool: %s\n", reason.c_str());
    return kExitBadInput;
}

bool WriteAll(HANDLE file, const void *data, DWORD size) {
    DWORD written = 0;
    return ::WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Reads the payload twice: once for its sum (the header goes first), once to copy it.
int MakeImage(const ImageToolCommand &command) {
    // Others may read the payload meanwhile but not change it.
    UniqueHandle payload(::CreateFileA(command.payloadPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!payload) return Fail("cannot open payload '" + command.payloadPath + "': " + SystemMessage(::GetLastError()));
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(payload.Get(), &size))
        return Fail("cannot size payload '" + command.payloadPath + "': " + SystemMessage(::GetLastError()));
    if (static_cast<uint64_t>(size.QuadPart) > 0xFFFFFFFFull)
        return Fail("payload '" + command.payloadPath + "' is " + std::to_string(size.QuadPart) +
                    " bytes; an image payload must be smaller than 4 GiB");
    const uint32_t length = static_cast<uint32_t>(size.QuadPart);

    std::vector<uint8_t> block(kCopyBlockSize);
    uint32_t sum = 0;
    uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadUpTo(payload.Get(), block.data(), kCopyBlockSize, got))
            return Fail("cannot read payload '" + command.payloadPath + "': " + SystemMessage(::GetLastError()));
        if (got == 0) break;
        sum = AddToPayloadSum(sum, block.data(), got);
        total += got;
    }
    if (total != length) return Fail("payload '" + command.payloadPath + "' changed while it was read");

    ImageHeader header;
    if (!BuildImageHeader(header, command.model, command.versionText, command.requiredVersion, length, sum))
        return Fail("model or version text longer than 16 characters");

    UniqueHandle output(::CreateFileA(command.outputPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) return Fail("cannot create '" + command.outputPath + "': " + SystemMessage(::GetLastError()));
    std::string failure;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(payload.Get(), start, nullptr, FILE_BEGIN) || !WriteAll(output.Get(), &header, sizeof(header))) {
        failure = SystemMessage(::GetLastError());
    } else {
        uint64_t copied = 0;
        for (;;) {
            DWORD got = 0;
            if (!ReadUpTo(payload.Get(), block.data(), kCopyBlockSize, got) || !WriteAll(output.Get(), block.data(), got)) {
                failure = SystemMessage(::GetLastError());
                break;
            }
            if (got == 0) break;
            copied += got;
        }
        if (failure.empty() && copied != length) failure = "the payload changed while it was copied";
    }
    if (!failure.empty()) {
        output.Reset();
        ::DeleteFileA(command.outputPath.c_str());
        return Fail("cannot write '" + command.outputPath + "': " + failure);
    }
    std::printf("Wrote %s: model \"%s\", version \"%s\", requires %s, payload %u bytes, sum 0x%08X\n",
                command.outputPath.c_str(), command.model.c_str(), command.versionText.c_str(),
                FormatVersionText(command.requiredVersion).c_str(), static_cast<unsigned>(length),
                static_cast<unsigned>(sum));
    return kExitDone;
}

int ShowImage(const ImageToolCommand &command) {
    std::string report;
    {
        UniqueHandle file(::CreateFileA(command.imagePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return Fail("cannot open '" + command.imagePath + "': " + SystemMessage(::GetLastError()));
        LARGE_INTEGER size{};
        ImageHeader header;
        DWORD got = 0;
        if (!::GetFileSizeEx(file.Get(), &size) || !ReadUpTo(file.Get(), &header, sizeof(header), got))
            return Fail("cannot read '" + command.imagePath + "': " + SystemMessage(::GetLastError()));
        if (got < sizeof(header))
            report = "File length:       " + std::to_string(size.QuadPart) + " (shorter than the 128-byte header)\n";
        else
            report = FormatHeaderReport(header, static_cast<uint64_t>(size.QuadPart));
    }
    std::printf("File:              %s\n%s", command.imagePath.c_str(), report.c_str());

    const ImageCheckResult check = CheckImageFile(command.imagePath, command.programVersion);
    const std::string updater = "Flashwell " + FormatVersionText(command.programVersion);
    switch (check.outcome) {
    case ImageCheckOutcome::Accepted:
        std::printf("Check:             accepted by %s\n", updater.c_str());
        return kExitDone;
    case ImageCheckOutcome::FileError:
        return Fail("cannot check '" + command.imagePath + "': " + SystemMessage(check.systemError));
    default:
        std::printf("Check:             rejected by %s: %s\n", updater.c_str(), ImageCheckMessage(check.outcome).c_str());
        return kExitNotAccepted;
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    ImageToolCommand command;
    std::string error;
    if (!ParseImageToolCommand(arguments, command, error)) {
        std::fprintf(stderr, "ImageTool: %s (ImageTool --help shows the usage)\n", error.c_str());
        return kExitBadInput;
    }
    switch (command.action) {
    case ImageToolAction::Make: return MakeImage(command);
    case ImageToolAction::Show: return ShowImage(command);
    case ImageToolAction::List: return ListBoards(command);
    case ImageToolAction::Update: return UpdateBoards(command);
    case ImageToolAction::Watch: return WatchBoards(command);
    case ImageToolAction::Help: break;
    }
    std::printf("%s", ImageToolUsage());
    return kExitDone;
}
