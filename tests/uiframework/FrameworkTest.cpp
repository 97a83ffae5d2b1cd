// The framework layer in one process: a modal test dialog drives itself by
// messages that it posts from OnInitDialog; message boxes are answered by a
// watcher thread that looks for them with a bounded wait.
#include "AfxWin.h"
#include "FrameworkTestDialogs.h"
#include "Thread.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr UINT WM_TEST_CUSTOM = WM_APP + 1;
constexpr UINT WM_TEST_NESTED = WM_APP + 2;
constexpr UINT ID_APP_COMMAND = 5000;

class LinkStatic : public CStatic {
public:
    int reflectedClicks = 0;
    int keyUpsTaken = 0;
    int keyUpsReachingWindow = 0;
    bool preSubclassRan = false;
    BOOL PreTranslateMessage(MSG *msg) override {
        if (msg->message == WM_KEYUP) {
            ++keyUpsTaken;
            return TRUE;
        }
        return CStatic::PreTranslateMessage(msg);
    }

protected:
    void PreSubclassWindow() override { preSubclassRan = m_hWnd != nullptr; }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_KEYUP) ++keyUpsReachingWindow;
        return CStatic::WindowProc(message, wParam, lParam);
    }
    void OnClicked() { ++reflectedClicks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(LinkStatic, CStatic)
    ON_CONTROL_REFLECT(STN_CLICKED, &LinkStatic::OnClicked)
END_MESSAGE_MAP()

class TestDialog : public CDialog {
public:
    TestDialog() : CDialog(IDD_FRAMEWORK_TEST) {}
    std::string name;
    int number = 0;
    LinkStatic link;
    CButton action;
    std::function<void(TestDialog &)> onInit;
    std::function<void(TestDialog &)> onNested;
    int actionClicks = 0;
    int parentLinkClicks = 0;
    std::vector<LPARAM> customMessages;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (onInit) onInit(*this);
        return TRUE;
    }

protected:
    void DoDataExchange(CDataExchange *dx) override {
        DDX_Text(dx, IDC_NAME, name);
        DDX_Text(dx, IDC_NUMBER, number);
        DDV_MinMaxInt(dx, number, 0, 65535);
        DDX_Control(dx, IDC_LINK, link);
        DDX_Control(dx, IDC_ACTION, action);
    }
    void OnAction() { ++actionClicks; }
    void OnLinkClicked() { ++parentLinkClicks; }
    LRESULT OnCustom(WPARAM wParam, LPARAM lParam) {
        customMessages.push_back(lParam);
        return 42 + static_cast<LRESULT>(wParam);
    }
    LRESULT OnNested(WPARAM, LPARAM) {
        if (onNested) onNested(*this);
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
    ON_BN_CLICKED(IDC_ACTION, &TestDialog::OnAction)
    ON_CONTROL(STN_CLICKED, IDC_LINK, &TestDialog::OnLinkClicked)
    ON_MESSAGE(WM_TEST_CUSTOM, &TestDialog::OnCustom)
    ON_MESSAGE(WM_TEST_NESTED, &TestDialog::OnNested)
END_MESSAGE_MAP()

class TestApp : public CWinApp {
public:
    TestApp() : CWinApp("FrameworkTest") {}
    int appCommands = 0;
    void OnAppCommand() { ++appCommands; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestApp, CWinApp)
    ON_COMMAND(ID_APP_COMMAND, &TestApp::OnAppCommand)
END_MESSAGE_MAP()

void PostCommand(HWND dialog, int id) { ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

std::string ItemText(HWND window, int id) {
    char text[512] = {};
    ::GetDlgItemTextA(window, id, text, sizeof(text));
    return text;
}

// Waits (bounded) for a message box on `uiThread`, keeps its text and closes it with OK.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer(DWORD uiThread, int boxesToAnswer) : uiThread_(uiThread), boxes_(boxesToAnswer) {
        thread_.Start([this] { Run(); });
    }
    ~MessageBoxAnswerer() { thread_.Join(10000); }
    std::vector<std::string> texts;
    std::vector<std::string> captions;
    bool Finished(DWORD timeoutMs) { return thread_.Join(timeoutMs); }

private:
    static BOOL CALLBACK Find(HWND window, LPARAM found) {
        char className[32] = {};
        ::GetClassNameA(window, className, sizeof(className));
        if (std::string(className) == "#32770" && ::IsWindowVisible(window) && ::GetDlgItem(window, 0xFFFF)) {
            *reinterpret_cast<HWND *>(found) = window;
            return FALSE;
        }
        return TRUE;
    }
    void Run() {
        DWORD deadline = ::GetTickCount() + 10000;
        while (boxes_ > 0 && static_cast<LONG>(deadline - ::GetTickCount()) > 0) {
            HWND box = nullptr;
            ::EnumThreadWindows(uiThread_, &Find, reinterpret_cast<LPARAM>(&box));
            if (!box) {
                ::Sleep(10);
                continue;
            }
            texts.push_back(ItemText(box, 0xFFFF));
            char caption[128] = {};
            ::GetWindowTextA(box, caption, sizeof(caption));
            captions.push_back(caption);
            ::PostMessageA(box, WM_COMMAND, IDOK, 0);
            while (::IsWindow(box) && ::IsWindowVisible(box) && static_cast<LONG>(deadline - ::GetTickCount()) > 0)
                ::Sleep(10);
            --boxes_;
        }
    }
    DWORD uiThread_;
    int boxes_;
    Thread thread_;
};

}  // namespace

TEST(Dialog, LoadsFieldsIntoControlsAndSavesThemOnOK) {
    TestDialog dialog;
    dialog.name = "alpha";
    dialog.number = 7;
    std::string shownName, shownNumber;
    dialog.onInit = [&](TestDialog &d) {
        shownName = ItemText(d.m_hWnd, IDC_NAME);
        shownNumber = ItemText(d.m_hWnd, IDC_NUMBER);
        ::SetDlgItemTextA(d.m_hWnd, IDC_NAME, "beta");
        ::SetDlgItemTextA(d.m_hWnd, IDC_NUMBER, " 123 ");
        PostCommand(d.m_hWnd, IDOK);
    };
    EXPECT_EQ(IDOK, dialog.DoModal());
    EXPECT_EQ("alpha", shownName);
    EXPECT_EQ("7", shownNumber);
    EXPECT_EQ("beta", dialog.name);
    EXPECT_EQ(123, dialog.number);
}

TEST(Dialog, CancelKeepsTheFieldsAndCommandsAndMessagesReachTheirHandlers) {
    TestDialog dialog;
    dialog.name = "kept";
    LRESULT customResult = 0;
    dialog.onInit = [&](TestDialog &d) {
        ::SetDlgItemTextA(d.m_hWnd, IDC_NAME, "changed");
        ::PostMessageA(d.action.m_hWnd, BM_CLICK, 0, 0);
        customResult = d.SendMessage(WM_TEST_CUSTOM, 1, 99);
        PostCommand(d.m_hWnd, IDCANCEL);
    };
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    EXPECT_EQ("kept", dialog.name);
    EXPECT_EQ(1, dialog.actionClicks);
    EXPECT_EQ(43, customResult);
    EXPECT_EQ(std::vector<LPARAM>{99}, dialog.customMessages);
}

TEST(Dialog, CloseBoxEndsTheDialogAsCancel) {
    TestDialog dialog;
    dialog.onInit = [](TestDialog &d) { ::PostMessageA(d.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); };
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
}

TEST(Dialog, ReflectedNotificationGoesToTheControlAndNotToTheParent) {
    TestDialog dialog;
    dialog.onInit = [](TestDialog &d) {
        ::PostMessageA(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_LINK, STN_CLICKED), reinterpret_cast<LPARAM>(d.link.m_hWnd));
        PostCommand(d.m_hWnd, IDCANCEL);
    };
    dialog.DoModal();
    EXPECT_EQ(1, dialog.link.reflectedClicks);
    EXPECT_EQ(0, dialog.parentLinkClicks);
}

TEST(Dialog, UnhandledCommandsReachTheApplicationsCommandMap) {
    TestApp app;
    ASSERT_EQ(&app, AfxGetApp());
    TestDialog dialog;
    dialog.onInit = [](TestDialog &d) {
        ::PostMessageA(d.m_hWnd, WM_COMMAND, ID_APP_COMMAND, 0);
        PostCommand(d.m_hWnd, IDCANCEL);
    };
    dialog.DoModal();
    EXPECT_EQ(1, app.appCommands);
}

TEST(Application, RegistryKeyNamesTheCompanyAndTheProgram) {
    TestApp app;
    EXPECT_STREQ("FrameworkTest", app.m_pszAppName);
    app.SetRegistryKey("Kelvrin digital video");
    EXPECT_EQ("Software\\Kelvrin digital video\\FrameworkTest", app.RegistryKey());
}

TEST(Dialog, PreTranslateMessageTakesMessagesOfTheModalLoopOnceEvenWhenNested) {
    TestDialog outer;
    TestDialog inner;
    inner.onInit = [](TestDialog &d) {
        ::PostMessageA(d.link.m_hWnd, WM_KEYUP, VK_F2, 0);
        PostCommand(d.m_hWnd, IDCANCEL);
    };
    outer.onNested = [&](TestDialog &d) {
        inner.m_pParentWnd = &d;
        inner.DoModal();
    };
    outer.onInit = [](TestDialog &d) {
        ::PostMessageA(d.link.m_hWnd, WM_KEYUP, VK_F2, 0);
        ::PostMessageA(d.m_hWnd, WM_TEST_NESTED, 0, 0);
        PostCommand(d.m_hWnd, IDCANCEL);
    };
    outer.DoModal();
    EXPECT_EQ(1, outer.link.keyUpsTaken);
    EXPECT_EQ(0, outer.link.keyUpsReachingWindow);
    EXPECT_EQ(1, inner.link.keyUpsTaken);
    EXPECT_EQ(0, inner.link.keyUpsReachingWindow);
}

TEST(Dialog, RangeCheckFailureShowsAMessageAndKeepsTheDialogOpen) {
    TestDialog dialog;
    MessageBoxAnswerer answerer(::GetCurrentThreadId(), 2);
    int okAttempts = 0;
    dialog.onInit = [&](TestDialog &d) {
        ::SetDlgItemTextA(d.m_hWnd, IDC_NUMBER, "70000");
        ::PostMessageA(d.m_hWnd, WM_TEST_NESTED, 0, 0);
    };
    // Each nested message tries OK once with the next text; the last one is valid.
    const char *attempts[] = {"70000", "abc", "65535"};
    dialog.onNested = [&](TestDialog &d) {
        ::SetDlgItemTextA(d.m_hWnd, IDC_NUMBER, attempts[okAttempts]);
        ++okAttempts;
        d.OnOK();  // a failed check shows its message box before this returns
        if (okAttempts < 3) ::PostMessageA(d.m_hWnd, WM_TEST_NESTED, 0, 0);
    };
    EXPECT_EQ(IDOK, dialog.DoModal());
    ASSERT_TRUE(answerer.Finished(10000));
    EXPECT_EQ(3, okAttempts);
    EXPECT_EQ(65535, dialog.number);
    ASSERT_EQ(2u, answerer.texts.size());
    EXPECT_EQ("Enter a whole number from 0 to 65535.", answerer.texts[0]);
    EXPECT_EQ("Enter a whole number.", answerer.texts[1]);
}

TEST(Window, BindingEndsWithTheWindow) {
    TestDialog dialog;
    bool boundDuringRun = false;
    dialog.onInit = [&](TestDialog &d) {
        boundDuringRun = CWnd::FromHandlePermanent(d.m_hWnd) == &d &&
                         CWnd::FromHandlePermanent(d.link.m_hWnd) == &d.link && d.link.preSubclassRan;
        PostCommand(d.m_hWnd, IDCANCEL);
    };
    dialog.DoModal();
    EXPECT_TRUE(boundDuringRun);
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    EXPECT_EQ(nullptr, dialog.link.m_hWnd);
    EXPECT_EQ(nullptr, dialog.action.m_hWnd);
}

TEST(Window, ObjectDyingFirstGivesTheWindowItsProcedureBack) {
    TestDialog dialog;
    LONG_PTR before = 0, during = 0, after = 0;
    bool unboundAfter = false;
    dialog.onInit = [&](TestDialog &d) {
        HWND edit = d.GetDlgItem(IDC_NAME);
        before = ::GetWindowLongPtrA(edit, GWLP_WNDPROC);
        {
            CEdit wrapper;
            EXPECT_TRUE(wrapper.SubclassDlgItem(IDC_NAME, &d));
            EXPECT_FALSE(CEdit().SubclassWindow(edit));  // one object per window
            during = ::GetWindowLongPtrA(edit, GWLP_WNDPROC);
        }
        after = ::GetWindowLongPtrA(edit, GWLP_WNDPROC);
        unboundAfter = CWnd::FromHandlePermanent(edit) == nullptr;
        PostCommand(d.m_hWnd, IDCANCEL);
    };
    dialog.DoModal();
    EXPECT_NE(before, during);
    EXPECT_EQ(before, after);
    EXPECT_TRUE(unboundAfter);
}

TEST(Controls, ToolTipWindowLivesWithItsObject) {
    TestDialog dialog;
    HWND tipWindow = nullptr;
    bool aliveInScope = false, added = false;
    CToolTipCtrl dialogLongTip;
    dialog.onInit = [&](TestDialog &d) {
        {
            CToolTipCtrl tip;
            EXPECT_TRUE(tip.Create(&d.link));
            tipWindow = tip.m_hWnd;
            aliveInScope = ::IsWindow(tipWindow) != FALSE;
            RECT rect{};
            d.link.GetClientRect(&rect);
            added = tip.AddTool(&d.link, "http://example.test", rect, 1) != FALSE;
        }
        EXPECT_TRUE(dialogLongTip.Create(&d.link));
        PostCommand(d.m_hWnd, IDCANCEL);
    };
    dialog.DoModal();
    EXPECT_TRUE(aliveInScope);
    EXPECT_TRUE(added);
    EXPECT_FALSE(::IsWindow(tipWindow));
    // The platform destroyed the other tooltip with its owner; the object let go of it.
    EXPECT_EQ(nullptr, dialogLongTip.m_hWnd);
}

TEST(Controls, ProgressAndListCallsReachTheControls) {
    // Controls made directly, without a dialog.
    HWND progressWindow = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 100, 10, nullptr, nullptr, nullptr, nullptr);
    HWND listWindow = ::CreateWindowExA(0, "ListBox", "", WS_POPUP | LBS_SORT, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    HWND comboWindow = ::CreateWindowExA(0, "ComboBox", "", WS_POPUP | CBS_DROPDOWNLIST | CBS_SORT, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(progressWindow && listWindow && comboWindow);
    {
        CProgressCtrl progress;
        CListBox list;
        CComboBox combo;
        ASSERT_TRUE(progress.SubclassWindow(progressWindow));
        ASSERT_TRUE(list.SubclassWindow(listWindow));
        ASSERT_TRUE(combo.SubclassWindow(comboWindow));
        progress.SetRange(0, 100);
        progress.SetPos(30);
        EXPECT_EQ(30, progress.GetPos());
        progress.SetPos(250);
        EXPECT_EQ(100, progress.GetPos());

        list.AddString("beta (b : 2)");
        list.AddString("alpha (a : 1)");
        EXPECT_EQ(2, list.GetCount());
        EXPECT_EQ("alpha (a : 1)", list.GetText(0));
        EXPECT_EQ(1, list.FindString(-1, "BETA"));
        list.SetCurSel(1);
        EXPECT_EQ(1, list.GetCurSel());
        list.DeleteString(0);
        EXPECT_EQ("beta (b : 2)", list.GetText(0));
        list.ResetContent();
        EXPECT_EQ(0, list.GetCount());

        combo.AddString("zeta");
        combo.AddString("eta");
        EXPECT_EQ("eta", combo.GetLBText(0));
        EXPECT_EQ(-1, combo.GetCurSel());
        combo.SetCurSel(1);
        EXPECT_EQ(1, combo.GetCurSel());
        EXPECT_EQ(1, combo.FindString(-1, "ze"));
        combo.ResetContent();
        EXPECT_EQ(0, combo.GetCount());
    }
    // Wrappers that did not create their windows leave them alive.
    EXPECT_TRUE(::IsWindow(progressWindow));
    ::DestroyWindow(progressWindow);
    ::DestroyWindow(listWindow);
    ::DestroyWindow(comboWindow);
}

TEST(Controls, RuntimeClassNamesFollowTheClasses) {
    CStatic label;
    EXPECT_STREQ("CStatic", label.GetRuntimeClass()->m_lpszClassName);
    EXPECT_TRUE(label.GetRuntimeClass()->IsDerivedFrom(RUNTIME_CLASS(CWnd)));
    EXPECT_FALSE(label.GetRuntimeClass()->IsDerivedFrom(RUNTIME_CLASS(CButton)));
}

TEST(Thread, ObjectDeletesItselfWhenTheThreadEnds) {
    UniqueHandle ran = MakeEvent(true, false);
    auto procedure = [](LPVOID event) -> UINT {
        ::SetEvent(static_cast<HANDLE>(event));
        return 7;
    };
    CWinThread *thread = AfxBeginThread(procedure, ran.Get(), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(nullptr, thread);
    HANDLE ownHandle = thread->Handle();
    HANDLE watch = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), ownHandle, ::GetCurrentProcess(), &watch, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS));
    UniqueHandle watched(watch);
    EXPECT_NE(WAIT_OBJECT_0, ::WaitForSingleObject(ran.Get(), 0));  // still suspended
    thread->ResumeThread();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(watched.Get(), 10000));
    DWORD exitCode = 0;
    EXPECT_TRUE(::GetExitCodeThread(watched.Get(), &exitCode));
    EXPECT_EQ(7u, exitCode);
    // The object closed its own handle when it deleted itself.
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(ownHandle, &flags));
}

TEST(FileDialog, FilterBecomesTheNulSeparatedList) {
    std::string filter = CFileDialog::PlatformFilter("Image file(*.img)|*.img|All file(*.*)|*.*|");
    EXPECT_EQ(std::string("Image file(*.img)\0*.img\0All file(*.*)\0*.*\0\0", 43), filter);
    CFileDialog dialog(TRUE, nullptr, nullptr, OFN_PATHMUSTEXIST, "Image file(*.img)|*.img|All file(*.*)|*.*|");
    EXPECT_EQ(0, std::memcmp(dialog.m_ofn.lpstrFilter, filter.data(), filter.size() + 1));
    EXPECT_TRUE(dialog.m_ofn.Flags & OFN_PATHMUSTEXIST);
    EXPECT_EQ("", dialog.GetPathName());
}

TEST(Messages, FileErrorNamesThePathAndBoxesCarryTheProgramName) {
    EXPECT_EQ("C:\\missing\\file.img\nCannot open the file.", AfxFileOpenErrorText("C:\\missing\\file.img"));
    MessageBoxAnswerer answerer(::GetCurrentThreadId(), 1);
    AfxReportFileOpenError("C:\\missing\\file.img");
    ASSERT_TRUE(answerer.Finished(10000));
    ASSERT_EQ(1u, answerer.texts.size());
    EXPECT_EQ("C:\\missing\\file.img\nCannot open the file.", answerer.texts[0]);
    EXPECT_EQ(AfxApplicationName(), answerer.captions[0]);
}
