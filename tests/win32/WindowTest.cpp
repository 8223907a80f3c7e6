// The Windows window read back through the Win32 API: its frame, every control's place, text and
// state, the keyboard order and accelerator, the hint, the menus, the icon resource, the drop hook
// and the close.
#include "app/RecordingBoxes.h"
#include "run/RunSupport.h"
#include "win32/Main.h"

#include "Scratch.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <vector>

namespace {

std::string ClassOf(HWND window) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[512] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

// A control's rectangle in its parent's client area: left, top, width, height.
struct TBox {
    int Left, Top, Width, Height;
    friend bool operator==(const TBox&, const TBox&) = default;
};

std::ostream& operator<<(std::ostream& out, const TBox& box) {
    return out << box.Left << "," << box.Top << " " << box.Width << "x" << box.Height;
}

TBox BoxOf(HWND control) {
    RECT r;
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// A window shown in a scratch folder of its own, with the boxes and the ARP tool recorded.
class Win32Window : public testing::Test {
protected:
    void SetUp() override {
        form.ShowAtStart();
        // Whatever is still queued for the new window is handled, as the loop would.
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }
    void TearDown() override {
        // A close asks the application to quit; the test's thread has no loop to end.
        MSG message;
        while (::PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }

    TScratch scratch;
    TInFolder in{scratch.Path()};
    TRecordingBoxes boxes;
    TRecordingLauncher launcher;
    TForm1 form;
};

TEST_F(Win32Window, FrameAndControlsStandWhereTheLayoutPutsThem) {
    HWND window = form.Handle();
    EXPECT_EQ(TextOf(window), "Corvane ZEB40 Upgrade Tools");
    RECT outer, client;
    ::GetWindowRect(window, &outer);
    ::GetClientRect(window, &client);
    EXPECT_EQ(outer.left, 239);
    EXPECT_EQ(outer.top, 191);
    EXPECT_EQ(client.right, 176);
    EXPECT_EQ(client.bottom, 148);

    const LONG_PTR style = ::GetWindowLongPtrA(window, GWL_STYLE);
    const LONG_PTR exStyle = ::GetWindowLongPtrA(window, GWL_EXSTYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    const LONG_PTR wanted = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME | WS_EX_ACCEPTFILES;
    EXPECT_EQ(exStyle & wanted, wanted);
    EXPECT_EQ(::GetClassLongPtrA(window, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
    // The system menu moves and closes only.
    HMENU system = ::GetSystemMenu(window, FALSE);
    for (UINT gone : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE}) {
        EXPECT_EQ(::GetMenuState(system, gone, MF_BYCOMMAND), static_cast<UINT>(-1)) << gone;
    }
    EXPECT_NE(::GetMenuState(system, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));

    struct Control {
        HWND Handle;
        const char* Class;
        const char* Text;
        TBox Box;
        bool Enabled;
    };
    const Control controls[] = {
        {form.Label1, "Static", "IP :", {40, 10, 16, 13}, true},
        {form.Label2, "Static", "Firmware :", {8, 40, 48, 13}, true},
        {form.edIP, "Edit", "192.168.1.100", {64, 7, 105, 21}, true},
        {form.edFilename, "Edit", "", {64, 40, 105, 21}, false},
        {form.bt1, "Button", "&Upgrade", {64, 72, 75, 25}, true},
        {form.sb1, STATUSCLASSNAMEA, "", {0, 129, 176, 19}, true},
    };
    LOGFONTA font{};
    ASSERT_EQ(::GetObjectA(form.Font(), sizeof font, &font), static_cast<int>(sizeof font));
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(font.lfHeight, -11);
    for (const Control& c : controls) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(::GetParent(c.Handle), window);
        EXPECT_STRCASEEQ(ClassOf(c.Handle).c_str(), c.Class);
        EXPECT_EQ(TextOf(c.Handle), c.Text);
        EXPECT_EQ(BoxOf(c.Handle), c.Box);
        EXPECT_EQ(::IsWindowEnabled(c.Handle) != FALSE, c.Enabled);
        EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageA(c.Handle, WM_GETFONT, 0, 0)), form.Font());
    }
    // The gauge draws on the window itself.
    const RECT gauge = form.cgPross->BoundsRect();
    EXPECT_EQ((TBox{gauge.left, gauge.top, gauge.right - gauge.left, gauge.bottom - gauge.top}),
              (TBox{0, 104, 175, 17}));
    EXPECT_EQ(form.cgPross->ForeColor(), RGB(0, 0, 128));
    EXPECT_EQ(form.cgPross->Font(), form.Font());
    // One part across the whole width, empty.
    EXPECT_EQ(::SendMessageA(form.sb1, SB_GETPARTS, 0, 0), 1);
    EXPECT_EQ(form.StatusText(), "");
}

TEST_F(Win32Window, KeyboardHintMenuAndIcon) {
    // The tab order, from the focus at the start; edFilename is skipped while disabled.
    EXPECT_EQ(::GetFocus(), form.bt1);
    HWND next = ::GetNextDlgTabItem(form.Handle(), form.bt1, FALSE);
    EXPECT_EQ(next, form.edIP);
    EXPECT_EQ(::GetNextDlgTabItem(form.Handle(), next, FALSE), form.bt1);
    ::EnableWindow(form.edFilename, TRUE);
    EXPECT_EQ(::GetNextDlgTabItem(form.Handle(), form.edIP, FALSE), form.edFilename);

    // The hover hint, on edIP.
    ASSERT_NE(form.Hint, nullptr);
    EXPECT_EQ(::SendMessageA(form.Hint, TTM_GETTOOLCOUNT, 0, 0), 1);
    char hint[128] = {};
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.lpszText = hint;
    ASSERT_TRUE(::SendMessageA(form.Hint, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(reinterpret_cast<HWND>(tool.uId), form.edIP);
    EXPECT_STREQ(hint, "Please input ZEB40 IP Address.");

    // The context menu's one entry.
    ASSERT_EQ(::GetMenuItemCount(form.ppExit), 1);
    char entry[32] = {};
    ::GetMenuStringA(form.ppExit, 0, entry, sizeof entry, MF_BYPOSITION);
    EXPECT_STREQ(entry, "Exit");
    EXPECT_EQ(::GetMenuItemID(form.ppExit, 0), TForm1::Exit1);

    // The icon resource: a 32 x 32 and a 16 x 16 image, each in 16 colours.
    HRSRC group = ::FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14));
    ASSERT_NE(group, nullptr);
    const auto* directory =
        static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, group)));
    ASSERT_NE(directory, nullptr);
    ASSERT_EQ(directory[4], 2); // images
    for (int i = 0; i < 2; ++i) {
        const BYTE* image = directory + 6 + 14 * i; // width, height, colours, ..., bits a pixel
        EXPECT_EQ(image[0], i == 0 ? 32 : 16);
        EXPECT_EQ(image[1], i == 0 ? 32 : 16);
        EXPECT_EQ(image[2], 16);
        EXPECT_EQ(image[6], 4);
    }
    EXPECT_NE(::SendMessageA(form.Handle(), WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageA(form.Handle(), WM_GETICON, ICON_SMALL, 0), 0);
}

// The keys that press bt1 reach its handler: the run starts the ARP tool, finds no file and
// leaves the button disabled with the error box.
TEST_F(Win32Window, AcceleratorAndReturnPressTheButton) {
    struct Key {
        const char* Name;
        HWND Focus;
        UINT Message;
        WPARAM Code;
        LPARAM Flags;
    };
    const Key keys[] = {
        {"Alt+U", form.bt1, WM_SYSCHAR, 'u', 1 << 29},
        {"Alt+U in edIP", form.edIP, WM_SYSCHAR, 'u', 1 << 29},
        {"Return on bt1", form.bt1, WM_KEYDOWN, VK_RETURN, 0},
    };
    form.SetAddressText("127.0.0.1");
    for (const Key& key : keys) {
        SCOPED_TRACE(key.Name);
        form.SetButtonEnabled(true);
        ::SetFocus(key.Focus);
        launcher.Started.clear();
        boxes.Shown.clear();
        MSG message{key.Focus, key.Message, key.Code, key.Flags, 0, {}};
        EXPECT_TRUE(::IsDialogMessageA(form.Handle(), &message));
        ASSERT_EQ(launcher.Started.size(), 1u);
        EXPECT_EQ(launcher.Started[0], (TCommand{"arp.exe", {"-d", "127.0.0.1"}}));
        ASSERT_EQ(boxes.Shown.size(), 1u);
        EXPECT_EQ(boxes.Shown[0], (TShownBox{true, "win32_tests", "Cannot open file "}));
        EXPECT_FALSE(::IsWindowEnabled(form.bt1));
    }
}

// An HDROP as the shell makes it: the header, then the paths, each ending in a zero, and one
// zero more.
HDROP MakeDrop(const std::vector<std::string>& paths) {
    std::string list;
    for (const std::string& path : paths) {
        list += path + '\0';
    }
    list += '\0';
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size());
    auto* header = static_cast<DROPFILES*>(::GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = FALSE;
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(), list.size());
    ::GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

TEST_F(Win32Window, DropPutsTheFirstPathCutTo259CharactersIntoTheDisabledBox) {
    const std::string longPath = "C:\\" + std::string(297, 'p');
    struct Case {
        std::vector<std::string> Paths;
        std::string Shown;
    };
    const Case cases[] = {
        {{"C:\\images\\one.bin", "C:\\images\\two.bin", "C:\\images\\three.bin"},
         "C:\\images\\one.bin"},
        {{longPath}, longPath.substr(0, 259)},
        {{"C:\\images"}, "C:\\images"}, // a folder is taken like a file
        {{""}, "C:\\images"},           // an empty path is no file: the box keeps its text
    };
    // The hook stands in front of the class's own handler, which frees each drop.
    EXPECT_NE(reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(form.Handle(), GWLP_WNDPROC)),
              TForm1::ClassHandler());
    for (const Case& c : cases) {
        ::SendMessageA(form.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(c.Paths)), 0);
        EXPECT_EQ(form.FileNameText(), c.Shown) << c.Paths.front();
        EXPECT_FALSE(::IsWindowEnabled(form.edFilename));
    }
    // FormDestroy puts the saved handler back: a drop then changes nothing.
    form.FormDestroy(&form);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(form.Handle(), GWLP_WNDPROC)),
              TForm1::ClassHandler());
    ::SendMessageA(form.Handle(), WM_DROPFILES,
                   reinterpret_cast<WPARAM>(MakeDrop({"C:\\late.bin"})), 0);
    EXPECT_EQ(form.FileNameText(), "C:\\images");
}

// A paint asked for while the window is being made, before its gauge exists: sent when the
// window procedure is about to get WM_CREATE.
int PaintsWhileMade = 0;

LRESULT CALLBACK PaintWhileMade(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_CREATE && ClassOf(call->hwnd) == "TForm1") {
        ++PaintsWhileMade;
        ::SendMessageA(call->hwnd, WM_PAINT, 0, 0);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(Win32WindowMade, APaintBeforeTheGaugeExistsPaintsNothingAndTheWindowComesUp) {
    TScratch scratch;
    TInFolder in{scratch.Path()};
    TRecordingBoxes boxes;
    HHOOK hook =
        ::SetWindowsHookExA(WH_CALLWNDPROC, &PaintWhileMade, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    TForm1 form;
    ::UnhookWindowsHookEx(hook);
    EXPECT_EQ(PaintsWhileMade, 1);
    form.ShowAtStart();
    EXPECT_TRUE(boxes.Shown.empty());
}

// Settings that cannot be written (DORVEX.ini is a folder here) are told once in the error box,
// and the close goes on all the same.
TEST_F(Win32Window, CloseTellsARefusedWriteAndHidesTheWindow) {
    std::filesystem::create_directory(scratch / "DORVEX.ini");
    ::SendMessageA(form.Handle(), WM_CLOSE, 0, 0);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_TRUE(boxes.Shown[0].Error);
    EXPECT_EQ(boxes.Shown[0].Text.rfind("Unable to write to ", 0), 0u) << boxes.Shown[0].Text;
    EXPECT_FALSE(::IsWindowVisible(form.Handle()));
    MSG quit;
    EXPECT_TRUE(::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

} // namespace
