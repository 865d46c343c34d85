// The modal dialog on the Windows dialog manager: the template is the resource of the same id in
// the program itself, and the procedure reaches the controls with SendDlgItemMessageA.
#include "platform/platform.h"
#include "platform/win32/win32_error.h"

#include <cassert>
#include <string>
#include <windows.h>

namespace quarvel::platform {

namespace {

// module-level: the dialog manager hands the dialog procedure only the window and the message,
// and the initialisation value stays 0, so the procedure of the running dialog waits here.
DialogProcedure runningProcedure = nullptr;

class Win32DialogControls final : public DialogControls {
public:
    explicit Win32DialogControls(HWND dialog) : dialog_(dialog) {}

    // neither CB_SETCURSEL nor BM_SETCHECK notifies the dialog, so no command comes back
    void appendItem(int32_t controlId, const char* text) override {
        SendDlgItemMessageA(dialog_, controlId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    void selectItem(int32_t controlId, int32_t index) override {
        SendDlgItemMessageA(dialog_, controlId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    int32_t selectedItem(int32_t controlId) override {
        // CB_ERR, which is -1, when nothing is selected
        return static_cast<int32_t>(SendDlgItemMessageA(dialog_, controlId, CB_GETCURSEL, 0, 0));
    }
    void setChecked(int32_t controlId, bool checked) override {
        SendDlgItemMessageA(dialog_, controlId, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    bool isChecked(int32_t controlId) override {
        return SendDlgItemMessageA(dialog_, controlId, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    // the dialog manager neither presses a disabled default button on Return nor focuses it
    void enableControl(int32_t controlId, bool enabled) override {
        EnableWindow(GetDlgItem(dialog_, controlId), enabled ? TRUE : FALSE);
    }
    // while WM_INITDIALOG runs, the focus set here is the one the dialog opens with
    void setFocus(int32_t controlId) override {
        SetFocus(controlId != -1 ? GetDlgItem(dialog_, controlId) : nullptr);
    }
    void setDefaultButton(int32_t controlId) override {
        SendMessageA(dialog_, DM_SETDEFID, static_cast<WPARAM>(controlId), 0);
    }
    void end(int32_t result) override { EndDialog(dialog_, result); }

private:
    HWND dialog_;
};

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    Win32DialogControls controls(dialog);
    switch (message) {
        case WM_INITDIALOG:
            runningProcedure(controls, DialogMessage::initialise, 0);
            return FALSE;  // the procedure set the focus
        case WM_COMMAND:
            // the control id is the low word; the notification code in the high word is not looked at.
            // Return and Escape come here as the default button's id and IDCANCEL, the close box as
            // IDCANCEL, a new selection in a list as the list's id (CBN_SELCHANGE, among others)
            runningProcedure(controls, DialogMessage::command, LOWORD(wParam));
            return FALSE;
        default: return FALSE;
    }
}

}  // namespace

DialogResult runModalDialog(const DialogTemplate& dialogTemplate, DialogProcedure procedure) {
    assert(procedure != nullptr && runningProcedure == nullptr && "one modal dialog at a time");
    runningProcedure = procedure;
    // owned by whatever window is in front, so the dialog comes up in front of it
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(dialogTemplate.id),
                                           GetForegroundWindow(), dialogProcedure, 0);
    runningProcedure = nullptr;
    if (result == -1)
        return {
            DialogStatus::unavailable, 0,
            lastErrorText(("dialog " + std::to_string(dialogTemplate.id) + " could not be shown").c_str())};
    return {DialogStatus::ended, static_cast<int32_t>(result), {}};
}

}  // namespace quarvel::platform
