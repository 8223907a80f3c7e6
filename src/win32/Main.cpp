#include "win32/Main.h"

#include "settings/IniText.h"
#include "win32/Application.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

TForm1* Form1 = nullptr;

namespace {

constexpr const char* ClassName = "TForm1";
constexpr DWORD FormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD FormExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
// The icon's resource identifier (Resources.rc).
constexpr WORD IconResource = 1;
// How soon a running count may follow the last paint of the status line.
constexpr std::chrono::milliseconds StatusPaintInterval{15};

HINSTANCE Instance() {
    return ::GetModuleHandleA(nullptr);
}

std::string WindowText(HWND window) {
    const int length = ::GetWindowTextLengthA(window);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int got = ::GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

void RegisterFormClass() {
    static bool registered = false;
    if (registered) {
        return;
    }
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = TForm1::ClassHandler();
    windowClass.hInstance = Instance();
    windowClass.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    // The platform's button face.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = ClassName;
    if (::RegisterClassExA(&windowClass) == 0) {
        throw Exception("The main window's class could not be registered");
    }
    registered = true;
}

} // namespace

TForm1::TForm1() {
    RegisterFormClass();
    RECT frame{0, 0, 176, 148};
    ::AdjustWindowRectEx(&frame, FormStyle, FALSE, FormExStyle);
    FHandle = ::CreateWindowExA(FormExStyle, ClassName, "Corvane ZEB40 Upgrade Tools", FormStyle,
                                239, 191, frame.right - frame.left, frame.bottom - frame.top,
                                nullptr, nullptr, Instance(), this);
    if (FHandle == nullptr) {
        throw Exception("The main window could not be created");
    }
    // Close box and system menu only: the system menu keeps Move and Close.
    if (HMENU system = ::GetSystemMenu(FHandle, FALSE)) {
        for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE}) {
            ::DeleteMenu(system, command, MF_BYCOMMAND);
        }
    }
    FIcon = static_cast<HICON>(
        ::LoadImageA(Instance(), MAKEINTRESOURCEA(IconResource), IMAGE_ICON, 32, 32, 0));
    FSmallIcon = static_cast<HICON>(
        ::LoadImageA(Instance(), MAKEINTRESOURCEA(IconResource), IMAGE_ICON, 16, 16, 0));
    ::SendMessageA(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIcon));
    ::SendMessageA(FHandle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(FSmallIcon));
    // 11 pixels high: 8 points at 96 dots per inch.
    FFont = ::CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    ::SendMessageA(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);

    CreateControls();
    Created(SystemRunServices(Application::Title()));
}

HWND TForm1::MakeControl(const char* className, const char* text, DWORD style, DWORD exStyle,
                         int left, int top, int width, int height) {
    HWND control = ::CreateWindowExA(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, left,
                                     top, width, height, FHandle, nullptr, Instance(), nullptr);
    if (control == nullptr) {
        throw Exception(std::string("The main window's control ") + className +
                        " could not be created");
    }
    ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    return control;
}

void TForm1::CreateControls() {
    Label1 = MakeControl("STATIC", "IP :", SS_LEFT | SS_NOPREFIX, 0, 40, 10, 16, 13);
    cgPross = std::make_unique<TCGauge>(FHandle);
    cgPross->SetBounds(0, 104, 175, 17);
    cgPross->SetForeColor(RGB(0, 0, 128));
    cgPross->SetFont(FFont);
    Label2 = MakeControl("STATIC", "Firmware :", SS_LEFT | SS_NOPREFIX, 0, 8, 40, 48, 13);
    edIP = MakeControl("EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 64, 7, 105, 21);
    edFilename = MakeControl("EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL | WS_DISABLED,
                             WS_EX_CLIENTEDGE, 64, 40, 105, 21);
    bt1 = MakeControl("BUTTON", "&Upgrade", WS_TABSTOP | BS_PUSHBUTTON, 0, 64, 72, 75, 25);
    ::SetWindowLongPtrA(bt1, GWLP_ID, bt1Id);
    sb1 = MakeControl(STATUSCLASSNAMEA, "", CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0, 0,
                      129, 176, 19);
    int parts[] = {-1};
    ::SendMessageA(sb1, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
    ppExit = ::CreatePopupMenu();
    ::AppendMenuA(ppExit, MF_STRING, Exit1, "Exit");

    // The tab order is the order of the controls: bt1, edIP, edFilename.
    ::SetWindowPos(bt1, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    FFocus = bt1;

    // The hover hint. The tool's description is of the size that every version of the common
    // controls takes.
    Hint = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                             WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, FHandle, nullptr, Instance(), nullptr);
    if (Hint != nullptr) {
        static char hintText[] = "Please input ZEB40 IP Address.";
        TOOLINFOA tool{};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = FHandle;
        tool.uId = reinterpret_cast<UINT_PTR>(edIP);
        tool.lpszText = hintText;
        ::SendMessageA(Hint, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

TForm1::~TForm1() {
    Destroying();
    ::SetWindowLongPtrA(FHandle, GWLP_USERDATA, 0);
    ::DestroyWindow(FHandle);
    ::DestroyMenu(ppExit);
    ::DeleteObject(FFont);
    for (HICON icon : {FIcon, FSmallIcon}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
}

void TForm1::FormCreate(TObject* /*Sender*/) {
    const LONG_PTR exStyle = ::GetWindowLongPtrA(FHandle, GWL_EXSTYLE);
    ::SetWindowLongPtrA(FHandle, GWL_EXSTYLE, exStyle | WS_EX_ACCEPTFILES);
    FPreviousHandler = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(FHandle, GWLP_WNDPROC));
    ::SetWindowLongPtrA(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DropHook));
}

void TForm1::FormDestroy(TObject* /*Sender*/) {
    if (FPreviousHandler != nullptr) {
        ::SetWindowLongPtrA(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FPreviousHandler));
        FPreviousHandler = nullptr;
    }
}

void TForm1::Exit1Click(TObject* /*Sender*/) {
    CloseRequested();
}

void TForm1::ShowAtStart() {
    FormShow(this);
    ::ShowWindow(FHandle, SW_SHOW);
    ::UpdateWindow(FHandle);
    ::SetFocus(bt1);
}

void TForm1::DropFiles(HDROP drop) {
    // The first file only, into a buffer of 260 bytes: at most 259 characters and the zero.
    char path[MaxDroppedPath + 1] = {};
    const UINT length = ::DragQueryFileA(drop, 0, path, sizeof path);
    const std::string text(path, ::strnlen(path, MaxDroppedPath));
    // An empty path is no file; one holding a line break could not be stored in the settings.
    if (length == 0 || text.empty() || IniText::HoldsLineBreak(text)) {
        return;
    }
    SetFileNameText(text);
}

void TForm1::CloseRequested() {
    if (!MayClose()) {
        return;
    }
    ::ShowWindow(FHandle, SW_HIDE);
    if (IsMainWindow()) {
        // The quit takes effect when control is back in the message loop.
        ::PostQuitMessage(0);
    }
}

void TForm1::ShowContextMenu(LPARAM at) {
    POINT where{static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    if (at == -1) {
        // From the keyboard: at the client area's corner.
        where = POINT{0, 0};
        ::ClientToScreen(FHandle, &where);
    }
    ::TrackPopupMenu(ppExit, TPM_LEFTALIGN | TPM_RIGHTBUTTON, where.x, where.y, 0, FHandle,
                     nullptr);
}

std::string TForm1::EditText(HWND edit) {
    return WindowText(edit);
}

void TForm1::SetEditText(HWND edit, const std::string& text) {
    ::SetWindowTextA(edit, text.c_str());
}

void TForm1::EnableControl(HWND control, bool enabled) {
    ::EnableWindow(control, enabled ? TRUE : FALSE);
}

void TForm1::PaintStatusNow() {
    ::UpdateWindow(sb1);
    FLastStatusPaint = std::chrono::steady_clock::now();
    FCountPending = false;
}

void TForm1::SetStatusText(const std::string& text, TStatusPace pace) {
    if (pace == TStatusPace::WhenDue) {
        ::SendMessageA(sb1, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
        FCountPending = true;
        if (std::chrono::steady_clock::now() - FLastStatusPaint >= StatusPaintInterval) {
            PaintStatusNow();
        }
        return;
    }
    if (FCountPending) {
        // The last count reaches the screen before it is replaced.
        PaintStatusNow();
    }
    ::SendMessageA(sb1, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
    PaintStatusNow();
}

void TForm1::CloseWindow() {
    CloseRequested();
}

std::string TForm1::StatusText() const {
    const LRESULT length = ::SendMessageA(sb1, SB_GETTEXTLENGTHA, 0, 0);
    std::string text(static_cast<size_t>(LOWORD(length)) + 1, '\0');
    ::SendMessageA(sb1, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text.data()));
    text.resize(::strnlen(text.c_str(), text.size()));
    return text;
}

WNDPROC TForm1::ClassHandler() {
    return &WindowProc;
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<TForm1*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (form == nullptr) {
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
    if (form->FHandle == nullptr) {
        form->FHandle = window;
    }
    LRESULT result = 0;
    Guarded([&] { result = form->Dispatch(message, wParam, lParam); });
    return result;
}

LRESULT CALLBACK TForm1::DropHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = reinterpret_cast<TForm1*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (form == nullptr || form->FPreviousHandler == nullptr) {
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
    if (message == WM_DROPFILES) {
        Guarded([&] { form->DropFiles(reinterpret_cast<HDROP>(wParam)); });
    }
    return ::CallWindowProcA(form->FPreviousHandler, window, message, wParam, lParam);
}

LRESULT TForm1::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == bt1Id && HIWORD(wParam) == BN_CLICKED) {
            bt1Click(this);
        } else if (LOWORD(wParam) == Exit1 && HIWORD(wParam) == 0 && lParam == 0) {
            Exit1Click(this);
        }
        return 0;
    case DM_GETDEFID:
        // Return presses the focused button, as in a dialog.
        if (::GetFocus() == bt1) {
            return MAKELRESULT(bt1Id, DC_HASDEFID);
        }
        return 0;
    case WM_CONTEXTMENU:
        // The title bar keeps the system menu.
        if (reinterpret_cast<HWND>(wParam) == FHandle && lParam != -1 &&
            ::DefWindowProcA(FHandle, WM_NCHITTEST, 0, lParam) != HTCLIENT) {
            break;
        }
        ShowContextMenu(lParam);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(FHandle, &paint);
        // A paint can be asked for while the window is being made, before its gauge exists.
        if (cgPross != nullptr) {
            const RECT gauge = cgPross->BoundsRect();
            RECT overlap;
            if (::IntersectRect(&overlap, &gauge, &paint.rcPaint)) {
                cgPross->Paint(dc);
            }
        }
        ::EndPaint(FHandle, &paint);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = ::GetFocus();
            if (focus != nullptr && ::IsChild(FHandle, focus)) {
                FFocus = focus;
            }
        } else if (FFocus != nullptr) {
            ::SetFocus(FFocus);
        }
        return 0;
    case WM_DROPFILES:
        // The drop hook has taken what it needs.
        ::DragFinish(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_CLOSE:
        CloseRequested();
        return 0;
    default:
        break;
    }
    return ::DefWindowProcA(FHandle, message, wParam, lParam);
}
