// Test helper for the Windows end-to-end test: reads the launcher dialog of a running demo from
// outside, through the dialog manager, and prints what a viewer would see in it, one line each:
//   caption <text> / item <text> (each entry of the Resolution list) / selected <index> / fullscreen <0|1>
// Exits with 1 when no launcher dialog is open.
#include <cstdio>
#include <windows.h>

int main() {
    const HWND dialog = FindWindowA("#32770", "Tessmor selektor");
    if (dialog == nullptr) {
        std::fprintf(stderr, "no launcher dialog is open\n");
        return 1;
    }
    char text[512] = {};
    GetWindowTextA(dialog, text, sizeof text);
    std::printf("caption %s\n", text);

    const LRESULT count = SendDlgItemMessageA(dialog, 1001, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        // the text of an item fits the 500 bytes its owner formats it into; it is read as UTF-16,
        // which Wine carries from process to process where it garbles the ANSI form
        if (SendDlgItemMessageW(dialog, 1001, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= 500) return 1;
        wchar_t item[512] = {};
        SendDlgItemMessageW(dialog, 1001, CB_GETLBTEXT, static_cast<WPARAM>(i),
                            reinterpret_cast<LPARAM>(item));
        WideCharToMultiByte(CP_UTF8, 0, item, -1, text, sizeof text, nullptr, nullptr);
        std::printf("item %s\n", text);
    }
    std::printf("selected %d\n", static_cast<int>(SendDlgItemMessageA(dialog, 1001, CB_GETCURSEL, 0, 0)));
    std::printf("fullscreen %d\n", static_cast<int>(SendDlgItemMessageA(dialog, 1003, BM_GETCHECK, 0, 0)));
    return 0;
}
