// The Windows Installer package as administrators use it: msiexec /qn, in a Wine prefix of
// its own (installs go into Program Files and the machine's PATH). FLASHWELL_PACKAGES names
// the folder where tools/test.sh made the packages and left the release folders they are
// made from; FLASHWELL_WIDTH the width of the package under test (win32 or win64).
#include "FlashwellDriver.h"
#include "RegistryKey.h"
#include "SimulatedBoard.h"
#include "TempFolder.h"
#include "UniqueHandle.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>
#include <shlobj.h>
#include <wrl/client.h>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Upgrades find the installed product by it: it never changes.
constexpr char kUpgradeCode[] = "{8E3B2C61-5F4A-4D8E-A1C7-2B9F6D0E4A73}";
constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr DWORD kRunWaitMs = 120000;
constexpr int IDC_STATUS = 1000, IDC_UPDATE = 1001;
constexpr UINT kMsiexecFailed = 1603;

// Where each packaged file is installed, under the install folder, and where it comes from:
// the package's own release folder, or the win32 or win64 one. `development`: only the
// Development feature installs it.
struct PackagedFile {
    const char *installed;
    const char *releaseWidth;  // "" for the package's own
    const char *released;
    bool development;
};
const PackagedFile kFiles[] = {
    {"Flashwell.exe", "", "Flashwell.exe", false},
    {"ImageTool.exe", "", "ImageTool.exe", false},
    {"Communicator.dll", "", "Communicator.dll", false},
    {"Wirrow.dll", "", "Wirrow.dll", false},
    {"Hivekey.dll", "", "Hivekey.dll", false},
    {"GUIDE.md", "", "GUIDE.md", false},
    {"communicator-add-router.png", "", "communicator-add-router.png", false},
    {"communicator-connect-to-board.png", "", "communicator-connect-to-board.png", false},
    {"include\\CommApi.h", "", "include\\CommApi.h", true},
    {"include\\CommRecords.h", "", "include\\CommRecords.h", true},
    {"include\\BoardInterfaceGuid.h", "", "include\\BoardInterfaceGuid.h", true},
    {"lib\\win32\\libCommunicator.dll.a", "win32", "lib\\libCommunicator.dll.a", true},
    {"lib\\win32\\Communicator.lib", "win32", "lib\\Communicator.lib", true},
    {"lib\\win64\\libCommunicator.dll.a", "win64", "lib\\libCommunicator.dll.a", true},
    {"lib\\win64\\Communicator.lib", "win64", "lib\\Communicator.lib", true},
    {"examples\\HostExample.c", "", "examples\\HostExample.c", true},
    {"examples\\StoreExample.c", "", "examples\\StoreExample.c", true},
    {"examples\\FindBoards.c", "", "examples\\FindBoards.c", true},
};

// The user's own data, which removal must leave: the router and device store with the
// selection dialog's last choice, and Flashwell's settings.
struct UserValue {
    const char *key;
    const char *name;
    const char *data;
};
const UserValue kUserData[] = {
    {"Software\\Kelvrin\\Communicator\\Routers", "lab-router", "10.0.0.5:26214"},
    {"Software\\Kelvrin\\Communicator", "Router", "lab-router (10.0.0.5 : 26214)"},
    {"Software\\Kelvrin\\Communicator", "Device", "Bench board"},
    {"Software\\Kelvrin digital video\\Flashwell\\Settings", "LastImage", "C:\\images\\firmware.img"},
};

std::string EnvironmentText(const char *name) {
    char text[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, text, MAX_PATH);
    return length < MAX_PATH ? std::string(text, length) : std::string();
}

bool Exists(const std::string &path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The whole file, or "(missing)".
std::string Contents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "(missing)";
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool SameFolder(std::string a, std::string b) {
    for (std::string *path : {&a, &b})
        if (!path->empty() && path->back() == '\\') path->pop_back();
    return ::lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// A key opened for reading in the registry view `view`; empty when it is missing.
RegistryKey OpenKey(HKEY root, const std::string &key, DWORD view = 0) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return RegistryKey();
    return RegistryKey(opened);
}

// A text value, REG_EXPAND_SZ expanded; "(missing)" when it cannot be read.
std::string Text(const RegistryKey &key, const char *name) {
    char text[4096] = {};
    DWORD size = sizeof(text);
    if (!key || ::RegGetValueA(key.Get(), nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return "(missing)";
    return text;
}

// The machine's PATH as a new process gets it, entry by entry. Wine's msiexec leaves the
// separator of an entry it removes; Wine's cmd stops searching at an empty entry.
std::vector<std::string> MachinePath() {
    std::vector<std::string> entries;
    std::istringstream path(
        Text(OpenKey(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager\\Environment"), "PATH"));
    for (std::string entry; std::getline(path, entry, ';');)
        if (!entry.empty()) entries.push_back(entry);
    return entries;
}

// A program run to its end: its exit code, or STILL_ACTIVE when it did not end in time
// (it is then ended).
class ProgramRun {
public:
    bool Start(std::string commandLine, const std::string &folder = std::string()) {
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              folder.empty() ? nullptr : folder.c_str(), &startup, &info))
            return false;
        process_.Reset(info.hProcess);
        UniqueHandle thread(info.hThread);
        processId_ = info.dwProcessId;
        return true;
    }
    DWORD Finish() {
        DWORD code = STILL_ACTIVE;
        if (::WaitForSingleObject(process_.Get(), kRunWaitMs) != WAIT_OBJECT_0) ::TerminateProcess(process_.Get(), 99);
        ::GetExitCodeProcess(process_.Get(), &code);
        return code;
    }
    DWORD ProcessId() const { return processId_; }

private:
    UniqueHandle process_;
    DWORD processId_ = 0;
};

struct Shortcut {
    std::string target;
    std::string workingFolder;
};

Shortcut ReadShortcut(const std::string &path) {
    Shortcut shortcut;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return shortcut;
    {
        Microsoft::WRL::ComPtr<IShellLinkA> link;
        Microsoft::WRL::ComPtr<IPersistFile> file;
        char text[MAX_PATH] = {};
        wchar_t widePath[MAX_PATH] = {};
        ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
        if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                         reinterpret_cast<void **>(link.GetAddressOf()))) &&
            SUCCEEDED(link.As(&file)) && SUCCEEDED(file->Load(widePath, STGM_READ))) {
            if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, 0))) shortcut.target = text;
            if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) shortcut.workingFolder = text;
            if (!shortcut.workingFolder.empty() && shortcut.workingFolder.back() == '\\') shortcut.workingFolder.pop_back();
        }
    }
    ::CoUninitialize();
    return shortcut;
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        // Wine starts its desktop process for the first program that needs the desktop; when
        // a short-lived one (msiexec, cmd) ends before that process is up, it never ends and
        // keeps this run's output open. This process takes the desktop first and holds it.
        ASSERT_NE(nullptr, ::GetDesktopWindow());
        packages_ = EnvironmentText("FLASHWELL_PACKAGES");
        width_ = EnvironmentText("FLASHWELL_WIDTH");
        ASSERT_FALSE(packages_.empty() || width_.empty()) << "FLASHWELL_PACKAGES and FLASHWELL_WIDTH: tools/test.sh";
        ASSERT_TRUE(work_.Made());
        ASSERT_TRUE(Products().empty()) << "Flashwell is installed already: not a prefix of its own";
    }
    void TearDown() override {
        for (const std::string &product : Products()) Msiexec("/x " + product + " /qn");
    }

    std::string Package() const { return packages_ + "\\flashwell-" FLASHWELL_VERSION "-" + width_ + ".msi"; }
    std::string OlderPackage() const { return packages_ + "\\older\\flashwell-" + width_ + ".msi"; }
    bool Is64() const { return width_ == "win64"; }
    DWORD View() const { return Is64() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }
    std::string Released(const PackagedFile &file) const {
        const std::string width = *file.releaseWidth ? file.releaseWidth : width_;
        return packages_ + "\\flashwell-" FLASHWELL_VERSION "-" + width + "\\" + file.released;
    }
    std::string MakerFolder() const {
        char programFiles[MAX_PATH] = {};
        ::SHGetFolderPathA(nullptr, Is64() ? CSIDL_PROGRAM_FILES : CSIDL_PROGRAM_FILESX86, nullptr, 0, programFiles);
        return std::string(programFiles) + "\\Kelvrin";
    }
    std::string DefaultFolder() const { return MakerFolder() + "\\Flashwell"; }

    // msiexec with a verbose log of its own; msiexec's exit code.
    bool StartMsiexec(ProgramRun &run, const std::string &arguments) {
        return run.Start("msiexec.exe " + arguments + " /l*v \"" + work_.File("msiexec.log") + "\"");
    }
    DWORD Msiexec(const std::string &arguments) {
        ProgramRun run;
        return StartMsiexec(run, arguments) ? run.Finish() : ::GetLastError();
    }
    // Where the last msiexec put the Start-menu shortcut: its ProgramMenuFolder.
    std::string StartMenuShortcut() const {
        std::ifstream log(work_.File("msiexec.log"));
        const std::string property = "Property(S): ProgramMenuFolder = ";
        std::string folder;
        for (std::string line; std::getline(log, line);)
            if (line.compare(0, property.size(), property) == 0) folder = line.substr(property.size());
        while (!folder.empty() && (folder.back() == '\r' || folder.back() == '\\')) folder.pop_back();
        return folder + "\\Flashwell.lnk";
    }

    static std::vector<std::string> Products() {
        std::vector<std::string> products;
        char product[39] = {};
        for (DWORD index = 0; ::MsiEnumRelatedProductsA(kUpgradeCode, 0, index, product) == ERROR_SUCCESS; ++index)
            products.push_back(product);
        return products;
    }

    // The files of the features chosen are in `folder`, byte for byte as released, and those
    // of the others are not; one product of this version is registered with its Apps and
    // Features entry, its Start-menu shortcut and its one entry on the machine's PATH.
    void ExpectInstalled(const std::string &folder, bool development) {
        for (const PackagedFile &file : kFiles) {
            const std::string installed = folder + "\\" + file.installed;
            if (file.development && !development)
                EXPECT_FALSE(Exists(installed)) << installed;
            else
                EXPECT_TRUE(Contents(installed) == Contents(Released(file))) << installed << " differs from its release";
        }
        const std::vector<std::string> products = Products();
        ASSERT_EQ(1u, products.size());
        const RegistryKey entry = OpenKey(HKEY_LOCAL_MACHINE, kUninstallKey + products[0], View());
        EXPECT_EQ("Flashwell", Text(entry, "DisplayName"));
        EXPECT_EQ(FLASHWELL_VERSION, Text(entry, "DisplayVersion"));
        EXPECT_EQ("Kelvrin", Text(entry, "Publisher"));
        EXPECT_TRUE(SameFolder(folder, Text(entry, "InstallLocation"))) << Text(entry, "InstallLocation");
        EXPECT_EQ("MsiExec.exe /X" + products[0], Text(entry, "UninstallString"));
        const Shortcut shortcut = ReadShortcut(StartMenuShortcut());
        EXPECT_TRUE(SameFolder(folder + "\\Flashwell.exe", shortcut.target)) << shortcut.target;
        EXPECT_TRUE(SameFolder(folder, shortcut.workingFolder)) << shortcut.workingFolder;
        const std::vector<std::string> path = MachinePath();
        EXPECT_EQ(1, std::count_if(path.begin(), path.end(), [&](const std::string &e) { return SameFolder(folder, e); }));
    }

    // Removes the product with msiexec `arguments`: nothing of it is left, neither files,
    // folder, shortcut and PATH entry nor its registration and its own record.
    void ExpectRemoved(const std::string &arguments, const std::string &folder) {
        const std::string product = Products().at(0), shortcut = StartMenuShortcut();
        ASSERT_EQ(0u, Msiexec(arguments));
        for (const PackagedFile &file : kFiles) EXPECT_FALSE(Exists(folder + "\\" + file.installed));
        EXPECT_FALSE(Exists(folder));
        EXPECT_FALSE(Exists(shortcut));
        for (const std::string &entry : MachinePath()) EXPECT_FALSE(SameFolder(folder, entry));
        EXPECT_TRUE(Products().empty());
        EXPECT_EQ(INSTALLSTATE_UNKNOWN, ::MsiQueryProductStateA(product.c_str()));
        EXPECT_FALSE(OpenKey(HKEY_LOCAL_MACHINE, kUninstallKey + product, View()));
        EXPECT_FALSE(OpenKey(HKEY_LOCAL_MACHINE, "Software\\Kelvrin", View()));
    }

    std::string packages_, width_;
    TempFolder work_{"installer-"};
};

TEST_F(Installer, ASilentInstallPutsEverythingInPlaceAndASilentRemovalTakesItAllButTheUsersData) {
    ASSERT_EQ(0u, Msiexec("/i \"" + Package() + "\" /qn"));
    ExpectInstalled(DefaultFolder(), false);
    for (const UserValue &value : kUserData)
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueA(HKEY_CURRENT_USER, value.key, value.name, REG_SZ, value.data,
                                                   static_cast<DWORD>(std::string(value.data).size() + 1)));

    ExpectRemoved("/x \"" + Package() + "\" /qn", DefaultFolder());
    EXPECT_FALSE(Exists(MakerFolder()));
    for (const UserValue &value : kUserData)
        EXPECT_EQ(value.data, Text(OpenKey(HKEY_CURRENT_USER, value.key), value.name)) << value.key << " " << value.name;
}

TEST_F(Installer, TheFolderAndTheDevelopmentFeatureAreChosenOnTheCommandLine) {
    const std::string folder = work_.File("Kelvrin Flashwell");
    ASSERT_EQ(0u, Msiexec("/i \"" + Package() + "\" /qn INSTALLDIR=\"" + folder + "\" ADDLOCAL=ALL"));
    ExpectInstalled(folder, true);
    EXPECT_FALSE(Exists(DefaultFolder()));
    ExpectRemoved("/x " + Products().at(0) + " /qn", folder);
}

TEST_F(Installer, ANewerPackageReplacesAnOlderOneInItsFolderAndAnOlderOneIsRefused) {
    const std::string folder = work_.File("Kelvrin Flashwell");
    ASSERT_EQ(0u, Msiexec("/i \"" + OlderPackage() + "\" /qn INSTALLDIR=\"" + folder + "\""));
    // The older package's guide differs: every file is replaced.
    ASSERT_EQ(0u, Msiexec("/i \"" + Package() + "\" /qn"));
    ExpectInstalled(folder, false);

    ProgramRun older;
    ASSERT_TRUE(StartMsiexec(older, "/i \"" + OlderPackage() + "\" /qb"));
    std::string message;
    EXPECT_TRUE(flashwelltest::AnswerProgramMessageBox(older.ProcessId(), nullptr, message, 60000));
    EXPECT_EQ(0u, message.find("A newer version of Flashwell is already installed on this computer.")) << message;
    EXPECT_EQ(kMsiexecFailed, older.Finish());
    ExpectInstalled(folder, false);
}

TEST_F(Installer, TheInstalledFlashwellStartedAsItsShortcutSaysUpdatesABoard) {
    ASSERT_EQ(0u, Msiexec("/i \"" + Package() + "\" /qn"));
    const Shortcut shortcut = ReadShortcut(StartMenuShortcut());
    // The image is made as a script would after the install: ImageTool called by name.
    std::vector<uint8_t> payload(300000);
    for (size_t index = 0; index < payload.size(); ++index) payload[index] = static_cast<uint8_t>(index * 7 + index / 251);
    std::ofstream(work_.File("payload.bin"), std::ios::binary)
        .write(reinterpret_cast<const char *>(payload.data()), static_cast<std::streamsize>(payload.size()));
    std::string path;
    for (const std::string &entry : MachinePath()) path += entry + ";";
    ASSERT_TRUE(::SetEnvironmentVariableA("PATH", path.c_str()));
    ProgramRun make;
    ASSERT_TRUE(make.Start("cmd.exe /c ImageTool make --model KV-220 --version 3.1.4 payload.bin firmware.img",
                           work_.Path()));
    ASSERT_EQ(0u, make.Finish());
    ASSERT_TRUE(Exists(work_.File("firmware.img")));

    boardsim::BoardConfig config;
    config.instance = "installer" + std::to_string(::GetCurrentProcessId());
    boardsim::SimulatedBoard board(config);
    ASSERT_EQ(0u, board.Start());
    flashwelltest::FlashwellDriver app;
    ASSERT_TRUE(SameFolder(shortcut.workingFolder + "\\Flashwell.exe", shortcut.target)) << shortcut.target;
    ASSERT_TRUE(app.Start(shortcut.workingFolder));
    ASSERT_TRUE(app.ChooseImage(work_.File("firmware.img")));
    ASSERT_TRUE(flashwelltest::WaitUntil([&] { return app.Enabled(IDC_UPDATE); }, 10000)) << app.Text(IDC_STATUS);
    app.Click(IDC_UPDATE);
    std::string message;
    ASSERT_TRUE(app.AnswerMessageBox(message, kRunWaitMs));
    EXPECT_EQ("Succeeded updating the firmware.", message);
    EXPECT_TRUE(board.FlashImage() == payload);
}

}  // namespace
