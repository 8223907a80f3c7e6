// The main window of the upgrade tool on Windows and its handlers: a plain Win32 window with the
// system's own controls and the GDI gauge.
#pragma once

#include "run/UpgradeForm.h"
#include "win32/Cgauges.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class TForm1;

// The application's main window while it exists.
extern TForm1* Form1;

// The main window. The upgrade run and the settings are the run's (TUpgradeRun); the window is
// its view, and its handlers delegate to it (TUpgradeWindow).
class TForm1 : public TUpgradeWindow<TForm1, Form1> {
public:
    // Creates the window with its fixed layout, hidden, then runs FormCreate.
    TForm1();
    // Runs FormDestroy, then destroys the window.
    ~TForm1() override;

    HWND Handle() const { return FHandle; }

    HWND Label1 = nullptr;
    std::unique_ptr<TCGauge> cgPross;
    HWND Label2 = nullptr;
    HWND edIP = nullptr;
    HWND edFilename = nullptr;
    HWND bt1 = nullptr;
    HWND sb1 = nullptr;
    HMENU ppExit = nullptr;
    // The hover hint of edIP.
    HWND Hint = nullptr;

    // The command of ppExit's one entry, Exit1, and the control identifier of bt1 (both above
    // the commands that the dialog keys send, IDOK and IDCANCEL).
    static constexpr UINT Exit1 = 100;
    static constexpr UINT bt1Id = 101;

    // The handlers of the window itself; the run's are TUpgradeForm's.
    void FormCreate(TObject* Sender);
    void FormDestroy(TObject* Sender);
    void Exit1Click(TObject* Sender);

    // Shows the window the first time, during start-up, after FormShow: a failure of FormShow
    // passes out of this call, and the window stays hidden.
    void ShowAtStart();

    // The controls as the view reads and sets them: an edit box's text in the system's code
    // page, byte for byte.
    static std::string EditText(HWND edit);
    static void SetEditText(HWND edit, const std::string& text);
    static void EnableControl(HWND control, bool enabled);
    // The rest of the view.
    void SetStatusText(const std::string& text, TStatusPace pace) override;
    void CloseWindow() override;

    // The status line's one part.
    std::string StatusText() const;
    // The window's font, which every control uses.
    HFONT Font() const { return FFont; }
    // The window procedure of the window's class, under the drop hook while FormCreate's hook
    // is in place.
    static WNDPROC ClassHandler();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK DropHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void DropFiles(HDROP drop);
    void CloseRequested();
    void ShowContextMenu(LPARAM at);
    void CreateControls();
    HWND MakeControl(const char* className, const char* text, DWORD style, DWORD exStyle, int left,
                     int top, int width, int height);
    void PaintStatusNow();

    HWND FHandle = nullptr;
    HFONT FFont = nullptr;
    HICON FIcon = nullptr;
    HICON FSmallIcon = nullptr;
    // The message handler that the drop hook stands in front of: saved by FormCreate, put back
    // by FormDestroy. The object it is called on is the window itself.
    WNDPROC FPreviousHandler = nullptr;
    // The control that had the focus when the window was last deactivated.
    HWND FFocus = nullptr;
    // The status line holds a running count not painted yet, and when it was last painted.
    bool FCountPending = false;
    std::chrono::steady_clock::time_point FLastStatusPaint{};
};

// The longest dropped path that edFilename takes.
inline constexpr int MaxDroppedPath = 259;
