// The end-to-end tests run the shipped programs from a folder of their own, as a user's
// installation is: a fresh temporary folder with copies of the binaries, deleted with
// everything the test wrote into it, and simulated boards in this process behind USB device
// interfaces of the board class. Images are made by ImageTool.exe, as firmware engineers make them.
#pragma once
#include "ProgramFolder.h"
#include "SimulatedBoard.h"
#include "TempFolder.h"
#include "ToolRun.h"
#include "UniqueName.h"
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class InstallationTest : public ::testing::Test {
protected:
    void TearDown() override { boards_.clear(); }

    // Copies `names` from the folder `from` into the installation.
    void Install(const std::string &from, std::initializer_list<const char *> names) {
        ASSERT_TRUE(folder_.Made());
        for (const char *name : names) ASSERT_TRUE(folder_.CopyIn(from, name)) << name << " from " << from;
    }

    boardsim::SimulatedBoard &AddBoard(boardsim::BoardConfig config = boardsim::BoardConfig()) {
        config.instance = UniqueName("e2e");
        boards_.push_back(std::make_unique<boardsim::SimulatedBoard>(config));
        EXPECT_EQ(0u, boards_.back()->Start());
        return *boards_.back();
    }

    // An image around `payload`, made by this build's ImageTool.exe in the folder: its name there
    // ("firmware.img" unless told), or empty when it was not made.
    std::string MakeImage(const std::vector<uint8_t> &payload, const std::string &name = "firmware.img",
                          const std::string &extra = "") {
        ToolRun run;
        const bool made =
            !folder_.Write("payload.bin", payload).empty() &&
            run.Start(ProgramFolder() + "\\ImageTool.exe",
                      "make --model KV-220 --version 3.1.4 " + extra + " payload.bin " + name, folder_.Path()) &&
            run.Finish(60000) == 0;
        EXPECT_TRUE(made) << run.err;
        return made ? name : std::string();
    }

    TempFolder folder_{"installation-"};
    std::vector<std::unique_ptr<boardsim::SimulatedBoard>> boards_;
};
