// The main dialog in this process, with Flashwell's own resources linked into the
// test program: what a user cannot reach through messages from another process.
#include "UpdaterDialog.h"
#include "resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <functional>

namespace {

constexpr UINT WM_TEST_STEP = WM_APP + 7;

// Runs `step` once the dialog is up, then closes it.
class SteppedUpdaterDialog : public UpdaterDialog {
public:
    std::function<void(SteppedUpdaterDialog &)> step;
    HICON Icon() const { return m_hIcon; }

protected:
    BOOL OnInitDialog() override {
        BOOL result = UpdaterDialog::OnInitDialog();
        PostMessage(WM_TEST_STEP);
        return result;
    }
    LRESULT OnStep(WPARAM, LPARAM) {
        if (step) step(*this);
        PostMessage(WM_COMMAND, IDCANCEL);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(SteppedUpdaterDialog, UpdaterDialog)
    ON_MESSAGE(WM_TEST_STEP, &SteppedUpdaterDialog::OnStep)
END_MESSAGE_MAP()

}  // namespace

TEST(UpdaterDialog, ProgramIconIsTheWindowsLargeAndSmallIconAndTheDragIcon) {
    ::InitCommonControls();
    SteppedUpdaterDialog dialog;
    ASSERT_NE(nullptr, dialog.Icon());
    LRESULT big = 0, small = 0, drag = 0;
    dialog.step = [&](SteppedUpdaterDialog &d) {
        big = d.SendMessage(WM_GETICON, ICON_BIG);
        small = d.SendMessage(WM_GETICON, ICON_SMALL);
        drag = d.SendMessage(WM_QUERYDRAGICON);
    };
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    EXPECT_EQ(reinterpret_cast<LRESULT>(dialog.Icon()), big);
    EXPECT_EQ(big, small);
    EXPECT_EQ(big, drag);
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(dialog.Icon(), &info));
    BITMAP colour{};
    ::GetObjectA(info.hbmColor, sizeof(colour), &colour);
    EXPECT_EQ(32, colour.bmWidth);
    EXPECT_EQ(32, colour.bmHeight);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
}

TEST(UpdaterDialog, SystemMenuEndsWithTheAboutEntry) {
    SteppedUpdaterDialog dialog;
    char text[64] = {};
    UINT lastId = 0, separatorType = 0;
    dialog.step = [&](SteppedUpdaterDialog &d) {
        HMENU menu = d.GetSystemMenu(FALSE);
        int count = ::GetMenuItemCount(menu);
        lastId = ::GetMenuItemID(menu, count - 1);
        ::GetMenuStringA(menu, count - 1, text, sizeof(text), MF_BYPOSITION);
        MENUITEMINFOA item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_FTYPE;
        ::GetMenuItemInfoA(menu, count - 2, TRUE, &item);
        separatorType = item.fType;
    };
    dialog.DoModal();
    EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), lastId);
    EXPECT_STREQ("&About Flashwell...", text);
    EXPECT_TRUE(separatorType & MFT_SEPARATOR);
}
