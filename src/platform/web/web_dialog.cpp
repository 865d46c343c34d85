// The web backend's modal dialog: the template as an HTML form in the page (web_page.js), run
// until the procedure ends it. The browser's thread cannot block, so runModalDialog suspends
// through Asyncify while the page waits for the viewer, and the form's events call the procedure
// through quarvelWebDialogCommand and quarvelWebDialogReturn. Implemented: push buttons (Return
// goes to the procedure, which decides what it presses), automatic check boxes, static texts with their
// alignment, drop-down lists (a change of selection is a command), disabled controls, the focus the procedure
// names; Escape and the caption's close box send cancelId. Left out: the template's font (the page's is
// used).
#include "platform/platform.h"
#include "platform/web/page_calls.h"

#include <emscripten/emscripten.h>

namespace quarvel::platform {

namespace {

// The HTML element that stands for a control in web_page.js, and a static text's alignment in CSS.
struct ControlElement {
    const char* tag;
    const char* align;
};

ControlElement elementOf(const DialogControl& control) {
    switch (controlKind(control)) {
        case ControlKind::pushButton: return {"button", ""};
        case ControlKind::checkBox: return {"input", ""};
        case ControlKind::list: return {"select", ""};
        case ControlKind::textCenter: return {"span", "center"};
        case ControlKind::textRight: return {"span", "right"};
        case ControlKind::textLeft: break;
    }
    return {"span", "left"};
}

class PageDialogControls final : public DialogControls {
public:
    void appendItem(int32_t controlId, const char* text) override { quarvelPageAppendItem(controlId, text); }
    void selectItem(int32_t controlId, int32_t index) override { quarvelPageSelectItem(controlId, index); }
    int32_t selectedItem(int32_t controlId) override { return quarvelPageSelectedItem(controlId); }
    void setChecked(int32_t controlId, bool checked) override { quarvelPageSetChecked(controlId, checked); }
    bool isChecked(int32_t controlId) override { return quarvelPageIsChecked(controlId); }
    void enableControl(int32_t controlId, bool enabled) override {
        quarvelPageEnableControl(controlId, enabled);
    }
    void setFocus(int32_t controlId) override { quarvelPageSetFocus(controlId); }
    void setDefaultButton(int32_t controlId) override { quarvelPageSetDefaultButton(controlId); }
    void end(int32_t result) override {
        ended = true;
        this->result = result;
    }

    DialogProcedure procedure = nullptr;
    bool ended = false;
    int32_t result = 0;
};

// module-level: the page's events reach the running dialog only through an exported function
PageDialogControls runningDialog;

}  // namespace

DialogResult runModalDialog(const DialogTemplate& dialogTemplate, DialogProcedure procedure) {
    quarvelPageDialogBegin(dialogTemplate.caption, dialogTemplate.cx, dialogTemplate.cy, okId, cancelId);
    for (int32_t i = 0; i < dialogTemplate.controlCount; ++i) {
        const DialogControl& c = dialogTemplate.controls[i];
        const ControlElement element = elementOf(c);
        quarvelPageDialogAddControl(c.id, element.tag, c.text, element.align, c.x, c.y, c.cx, c.cy);
    }

    runningDialog.procedure = procedure;
    runningDialog.ended = false;
    runningDialog.result = 0;
    procedure(runningDialog, DialogMessage::initialise, 0);
    if (!runningDialog.ended) {
        quarvelPageDialogShow();
        quarvelPageDialogWait();
    }
    quarvelPageDialogClose();
    runningDialog.procedure = nullptr;
    return {DialogStatus::ended, runningDialog.result, {}};
}

}  // namespace quarvel::platform

namespace {

int sendToDialog(quarvel::platform::DialogMessage message, int32_t controlId) {
    using quarvel::platform::runningDialog;
    if (runningDialog.procedure == nullptr || runningDialog.ended) return 0;
    runningDialog.procedure(runningDialog, message, controlId);
    return runningDialog.ended ? 1 : 0;
}

}  // namespace

// A control of the shown dialog was clicked, or a key stood in for one: the procedure gets the
// command. Returns 1 when the procedure ended the dialog, for the page to close it and resume
// runModalDialog.
extern "C" EMSCRIPTEN_KEEPALIVE int quarvelWebDialogCommand(int32_t controlId) {
    return sendToDialog(quarvel::platform::DialogMessage::command, controlId);
}

// Return, with `focusedId` holding the focus: the procedure decides what it presses. Returns as
// quarvelWebDialogCommand does.
extern "C" EMSCRIPTEN_KEEPALIVE int quarvelWebDialogReturn(int32_t focusedId) {
    return sendToDialog(quarvel::platform::DialogMessage::returnKey, focusedId);
}
